#!/usr/bin/env python3
"""Test-side setup and inspection of the local AWS-API servers, through
boto3 (never through clouddb-mover): an independent view of what the tool
stored.

  awsctl.py s3-mb ENDPOINT BUCKET
  awsctl.py s3-summary ENDPOINT s3://BUCKET/PREFIX   manifest lines (name size
                                                      checksum) and "objects N"
  awsctl.py s3-put ENDPOINT s3://BUCKET/KEY TEXT
  awsctl.py s3-rm ENDPOINT s3://BUCKET/KEY
"""
import sys

import boto3


def client(service, endpoint):
    return boto3.client(service, endpoint_url=endpoint, region_name="us-east-1")


def split(url):
    bucket, _, key = url[len("s3://"):].partition("/")
    return bucket, key


def s3_mb(endpoint, bucket):
    client("s3", endpoint).create_bucket(Bucket=bucket)


def s3_summary(endpoint, url):
    s3 = client("s3", endpoint)
    bucket, prefix = split(url)
    manifest = s3.get_object(Bucket=bucket, Key=prefix + "/manifest")["Body"].read().decode()
    for line in manifest.splitlines()[1:]:
        print(" ".join(line.split(" ")[:3]))
    listed = s3.list_objects_v2(Bucket=bucket, Prefix=prefix + "/")
    print("objects", listed["KeyCount"])


def s3_put(endpoint, url, text):
    bucket, key = split(url)
    client("s3", endpoint).put_object(Bucket=bucket, Key=key, Body=text.encode())


def s3_rm(endpoint, url, *_):
    bucket, key = split(url)
    client("s3", endpoint).delete_object(Bucket=bucket, Key=key)


COMMANDS = {"s3-mb": s3_mb, "s3-summary": s3_summary, "s3-put": s3_put, "s3-rm": s3_rm}

if __name__ == "__main__":
    COMMANDS[sys.argv[1]](*sys.argv[2:])
