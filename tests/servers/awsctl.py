#!/usr/bin/env python3
"""Test-side setup and inspection of the local AWS-API servers, through
boto3 (never through clouddb-mover): an independent view of what the tool
stored.

  awsctl.py s3-mb ENDPOINT BUCKET
  awsctl.py s3-summary ENDPOINT s3://BUCKET/PREFIX   manifest lines (name size
                                                      checksum) and "objects N"
  awsctl.py s3-put ENDPOINT s3://BUCKET/KEY TEXT
  awsctl.py s3-rm ENDPOINT s3://BUCKET/KEY
  awsctl.py s3-cat ENDPOINT s3://BUCKET/KEY
  awsctl.py s3-put-wrong-md5 ENDPOINT s3://BUCKET/KEY
                                      a PUT whose Content-MD5 is another body's:
                                      prints "stored" or "refused CODE"
  awsctl.py table-create ENDPOINT TABLE hash|indexed|number [stream]
                                      hash: key pk (S); indexed: pk (S) and
                                      sk (N), a global and a local index;
                                      number: key pk (N)
  awsctl.py table-fill ENDPOINT TABLE COUNT [SEED]
                                      COUNT items of every attribute type, and
                                      the awkward ones: empty strings, binary
                                      of every byte value, non-ASCII text,
                                      deep nesting, an item near 400 KB
  awsctl.py table-compare ENDPOINT TABLE OTHER
                                      item for item; prints "same N" or the
                                      first difference and exits 1
  awsctl.py table-count ENDPOINT TABLE
  awsctl.py table-compare-changed ENDPOINT TABLE OTHER CHANGES
                                      TABLE with the changes applied (a JSON
                                      file {"put": [items], "delete": [keys]},
                                      in DynamoDB's attribute-value form) must
                                      equal OTHER
  awsctl.py writer ENDPOINT TABLE HOLD
                                      puts, updates and deletes items of TABLE
                                      (as table-fill made them) at a steady
                                      rate: creates HOLD.writing after its
                                      first write, stops once HOLD.scanned
                                      exists (and 20 writes are made), then
                                      creates HOLD and prints its number of
                                      writes
  awsctl.py serve                     the commands above, one per line on standard
                                      input, each answered by its output and a
                                      line "__done__ STATUS" (saves a start of
                                      Python and boto3 per command)
"""
import base64
import contextlib
import hashlib
import io
import json
import os
import random
import time
import shlex
import sys
from decimal import Decimal

import boto3
import botocore.exceptions
from boto3.dynamodb.types import TypeDeserializer


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


def s3_put_wrong_md5(endpoint, url):
    """Puts a body with the Content-MD5 of other bytes: prints "stored" or
    "refused CODE" (AWS refuses it with BadDigest)."""
    bucket, key = split(url)
    wrong = base64.b64encode(hashlib.md5(b"other bytes").digest()).decode()
    s3 = client("s3", endpoint)
    try:
        s3.put_object(Bucket=bucket, Key=key, Body=b"these bytes", ContentMD5=wrong)
        print("stored")
    except botocore.exceptions.ClientError as refusal:
        print("refused", refusal.response["Error"]["Code"])


def s3_cat(endpoint, url):
    bucket, key = split(url)
    sys.stdout.write(client("s3", endpoint).get_object(Bucket=bucket, Key=key)["Body"].read()
                     .decode())


def s3_rm(endpoint, url, *_):
    bucket, key = split(url)
    client("s3", endpoint).delete_object(Bucket=bucket, Key=key)


def table_create(endpoint, table, shape, stream=None):
    attributes = [{"AttributeName": "pk", "AttributeType": "N" if shape == "number" else "S"}]
    keys = [{"AttributeName": "pk", "KeyType": "HASH"}]
    extra = {}
    if shape == "indexed":
        attributes += [{"AttributeName": "sk", "AttributeType": "N"},
                       {"AttributeName": "g", "AttributeType": "S"},
                       {"AttributeName": "l", "AttributeType": "S"}]
        keys.append({"AttributeName": "sk", "KeyType": "RANGE"})
        extra["GlobalSecondaryIndexes"] = [{
            "IndexName": "by-g", "KeySchema": [{"AttributeName": "g", "KeyType": "HASH"}],
            "Projection": {"ProjectionType": "ALL"}}]
        extra["LocalSecondaryIndexes"] = [{
            "IndexName": "by-l", "KeySchema": [{"AttributeName": "pk", "KeyType": "HASH"},
                                               {"AttributeName": "l", "KeyType": "RANGE"}],
            "Projection": {"ProjectionType": "KEYS_ONLY"}}]
    if stream:
        extra["StreamSpecification"] = {"StreamEnabled": True, "StreamViewType": "NEW_IMAGE"}
    dynamodb = client("dynamodb", endpoint)
    dynamodb.create_table(TableName=table, AttributeDefinitions=attributes, KeySchema=keys,
                          BillingMode="PAY_PER_REQUEST", **extra)
    dynamodb.get_waiter("table_exists").wait(TableName=table, WaiterConfig={"Delay": 0.1})


def key_names(dynamodb, table):
    schema = dynamodb.describe_table(TableName=table)["Table"]["KeySchema"]
    return [key["AttributeName"] for key in schema]


def item(i, rng, names):
    value = {
        "pk": "user-%05d" % i,
        "text": "Grüße, 世界 %d" % i,
        "empty": "",
        "n": Decimal(rng.randint(-10**6, 10**6)) / 100,
        "blob": bytes(range(256)) if i % 7 == 0 else bytes(rng.randrange(256) for _ in range(8)),
        "ss": {"a", "b %d" % i},
        "ns": {Decimal(1), Decimal("2.5"), Decimal(-i)},
        "bs": {b"\x00", b"\xff\x01"},
        "m": {"inner": {"list": [1, "two", None, True, {"deep": [b"\x07"]}]}, "empty": {}},
        "l": [],
        "flag": i % 2 == 0,
        "nothing": None,
        "g": "group-%d" % (i % 5),
    }
    if "sk" in names:
        value["sk"] = i * 7
        value["l"] = "local-%d" % i
    if i == 3:
        value["big"] = "x" * 380000
    return value


def table_fill(endpoint, table, count, seed="1"):
    dynamodb = boto3.resource("dynamodb", endpoint_url=endpoint, region_name="us-east-1")
    names = key_names(dynamodb.meta.client, table)
    rng = random.Random(int(seed))
    with dynamodb.Table(table).batch_writer() as batch:
        for i in range(int(count)):
            batch.put_item(Item=item(i, rng, names))


def scan(dynamodb, table):
    names = key_names(dynamodb.meta.client, table)
    items = {}
    for page in dynamodb.meta.client.get_paginator("scan").paginate(TableName=table):
        for raw in page["Items"]:
            items[tuple(str(raw[name]) for name in names)] = raw
    return items


def schema(dynamodb, table):
    described = dynamodb.meta.client.describe_table(TableName=table)["Table"]
    indexes = [(index["IndexName"], index["KeySchema"], index["Projection"]["ProjectionType"])
               for kind in ("GlobalSecondaryIndexes", "LocalSecondaryIndexes")
               for index in described.get(kind, [])]
    return described["KeySchema"], sorted(map(str, indexes))


def table_compare(endpoint, table, other):
    dynamodb = boto3.resource("dynamodb", endpoint_url=endpoint, region_name="us-east-1")
    if schema(dynamodb, table) != schema(dynamodb, other):
        print("schemas differ:", schema(dynamodb, table), "<>", schema(dynamodb, other))
        sys.exit(1)
    left, right = scan(dynamodb, table), scan(dynamodb, other)
    for key in sorted(set(left) | set(right)):
        a, b = left.get(key), right.get(key)
        if canonical(a) != canonical(b):
            print("differ at", key, ":", str(a)[:200], "<>", str(b)[:200])
            sys.exit(1)
    print("same", len(left))


def canonical(value):
    """Attribute values with set members in order, so sets compare as sets."""
    if isinstance(value, dict):
        return {name: sorted(inner) if name in ("SS", "NS", "BS") else canonical(inner)
                for name, inner in value.items()}
    if isinstance(value, list):
        return [canonical(inner) for inner in value]
    return value


def table_compare_changed(endpoint, table, other, changes):
    dynamodb = boto3.resource("dynamodb", endpoint_url=endpoint, region_name="us-east-1")
    names = key_names(dynamodb.meta.client, table)
    with open(changes) as source:
        wanted = json.load(source)
    # As scan gives them: plain values.
    plain = TypeDeserializer()
    wanted = {change: [{name: plain.deserialize(value) for name, value in entry.items()}
                       for entry in entries] for change, entries in wanted.items()}
    left = scan(dynamodb, table)
    for item in wanted.get("put", []):
        left[tuple(str(item[name]) for name in names)] = item
    for key in wanted.get("delete", []):
        left.pop(tuple(str(key[name]) for name in names), None)
    right = scan(dynamodb, other)
    if {key: canonical(item) for key, item in left.items()} != \
            {key: canonical(item) for key, item in right.items()}:
        print("differ:", sorted(set(left) ^ set(right))[:5])
        sys.exit(1)
    print("same", len(right))


def writer(endpoint, table, hold):
    items = boto3.resource("dynamodb", endpoint_url=endpoint, region_name="us-east-1").Table(table)
    rng = random.Random(11)
    writes = 0
    # At least 20 writes, so that some always fall after the backup's start.
    while writes < 20 or not os.path.exists(hold + ".scanned"):
        choice = rng.random()
        if choice < 0.4:
            items.put_item(Item={"pk": "new-%05d" % writes, "text": "inserted %d" % writes})
        elif choice < 0.8:
            items.put_item(Item={"pk": "user-%05d" % rng.randrange(60), "text": "updated %d" % writes})
        else:
            items.delete_item(Key={"pk": "user-%05d" % rng.randrange(60)})
        writes += 1
        if writes == 1:
            open(hold + ".writing", "w").close()
        time.sleep(0.02)
    open(hold, "w").close()
    print(writes)


def table_count(endpoint, table):
    dynamodb = boto3.resource("dynamodb", endpoint_url=endpoint, region_name="us-east-1")
    print(len(scan(dynamodb, table)))


COMMANDS = {"s3-mb": s3_mb, "s3-summary": s3_summary, "s3-put": s3_put, "s3-rm": s3_rm,
            "s3-put-wrong-md5": s3_put_wrong_md5, "s3-cat": s3_cat,
            "table-create": table_create, "table-fill": table_fill,
            "table-compare": table_compare, "table-count": table_count,
            "table-compare-changed": table_compare_changed, "writer": writer}

def serve():
    for line in sys.stdin:
        args = shlex.split(line)
        output = io.StringIO()
        status = 0
        try:
            with contextlib.redirect_stdout(output):
                COMMANDS[args[0]](*args[1:])
        except SystemExit as exit:
            status = exit.code if isinstance(exit.code, int) else 1
        except Exception as failure:  # reported to the test, which goes on
            output.write("error: %s\n" % failure)
            status = 1
        sys.stdout.write(output.getvalue() + "__done__ %d\n" % status)
        sys.stdout.flush()


if __name__ == "__main__":
    if sys.argv[1] == "serve":
        serve()
    else:
        COMMANDS[sys.argv[1]](*sys.argv[2:])
