#!/usr/bin/env python3
"""A fault-injecting HTTP proxy for tests: forwards every request to the
upstream server unchanged (Host header included, so signatures still hold)
and, at the given rate, answers instead with a fault:

  throttle  the service's throttling error: HTTP 400 ThrottlingException for
            DynamoDB requests, HTTP 503 SlowDown for S3
  error     HTTP 500 InternalError (the request never reaches the server)
  reset     the connection is reset before any answer
  slow      the request is forwarded, and the answer held back for a while
  garbage   HTTP 200 with a body that is not JSON (DynamoDB requests only)
  ack       a PUT answered 200 with the ETag of its body, and not stored
  truncate  a PUT stored with the second half of its body cut off
  flip      a GET answered with one byte of its body changed (same length)
  unapplied a BatchWriteItem forwarded without its first request, and its
            answer claiming that every request was processed
  blackhole the request read, and never answered (until the client leaves)
  drip      the answer sent at 2 bytes a second
  loop      a Scan answered with a LastEvaluatedKey that repeats the
            request's ExclusiveStartKey (or, without one, the first item's
            "pk")
  lost      the request forwarded and applied, and the connection reset
            before the answer
  deep      HTTP 200 with arrays nested 300,000 deep (DynamoDB requests only)

With --only REGEX it faults only the requests whose "METHOD target" (the
DynamoDB operation, or the S3 path) matches, e.g. '^PUT '.

With --stream-script FILE it answers the DynamoDB Streams API itself, from a
script of shards that change as the backup goes (see ScriptedStream), and
forwards everything else.

With --secret it also checks every request's Signature Version 4 against
that secret key, as AWS does and the local servers do not, and answers a
mismatch with HTTP 403 SignatureDoesNotMatch.

On exit (SIGTERM) it writes "requests N faults M" to the --stats file."""
import argparse
import hashlib
import hmac
import http.client
import json
import http.server
import random
import re
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse

# The answer of each fault kind, as each service words it.
FAULTS = {
    ("throttle", "dynamodb"): (
        400, "application/x-amz-json-1.0",
        '{"__type":"com.amazonaws.dynamodb.v20120810#ThrottlingException",'
        '"message":"Rate of requests exceeds the allowed throughput."}'),
    ("throttle", "s3"): (
        503, "application/xml",
        "<Error><Code>SlowDown</Code><Message>Please reduce your request rate.</Message></Error>"),
    ("error", "dynamodb"): (
        500, "application/x-amz-json-1.0",
        '{"__type":"com.amazonaws.dynamodb.v20120810#InternalServerError",'
        '"message":"Internal server error"}'),
    ("garbage", "dynamodb"): (200, "application/x-amz-json-1.0", "<html>not JSON</html>"),
    ("deep", "dynamodb"): (200, "application/x-amz-json-1.0", "[" * 300000 + "]" * 300000),
    ("error", "s3"): (
        500, "application/xml",
        "<Error><Code>InternalError</Code><Message>We encountered an internal error. "
        "Please try again.</Message></Error>"),
}

HOP_BY_HOP = {"connection", "keep-alive", "transfer-encoding", "te", "trailer", "upgrade",
              "proxy-connection", "expect"}


def signature_matches(method, path, headers, body, secret):
    """Recomputes the request's AWS Signature Version 4."""
    authorization = headers.get("Authorization", "")
    if not authorization.startswith("AWS4-HMAC-SHA256 "):
        return False
    fields = dict(part.strip().split("=", 1) for part in authorization[17:].split(","))
    _, day, region, service, _ = fields["Credential"].split("/")
    signed = fields["SignedHeaders"].split(";")
    uri, _, query = path.partition("?")
    if service != "s3":
        uri = urllib.parse.quote(uri, safe="/~")
    pairs = sorted(tuple(item.split("=", 1)) if "=" in item else (item, "")
                   for item in query.split("&") if item)
    canonical_query = "&".join(name + "=" + value for name, value in pairs)
    canonical_headers = "".join(name + ":" + " ".join(headers.get(name, "").split()) + "\n"
                                for name in signed)
    payload = headers.get("x-amz-content-sha256") or hashlib.sha256(body or b"").hexdigest()
    request = "\n".join([method, uri, canonical_query, canonical_headers, ";".join(signed),
                         payload])
    scope = "/".join([day, region, service, "aws4_request"])
    to_sign = "\n".join(["AWS4-HMAC-SHA256", headers.get("x-amz-date", ""), scope,
                         hashlib.sha256(request.encode()).hexdigest()])
    key = ("AWS4" + secret).encode()
    for part in (day, region, service, "aws4_request"):
        key = hmac.new(key, part.encode(), hashlib.sha256).digest()
    expected = hmac.new(key, to_sign.encode(), hashlib.sha256).hexdigest()
    return hmac.compare_digest(expected, fields["Signature"])


class ScriptedStream:
    """A stream whose shards change while a backup runs. The script is JSON:
    {"shards": [{"id": ..., "parent": ... or null, "from_call": N,
                 "closed_from_call": N or null, "records": [
                   {"when": "before"|"during"|"after", "event": "INSERT"|"MODIFY"|"REMOVE",
                    "keys": {...}, "image": {...} or null}]}]}
    A shard is listed from the N-th DescribeStream call on, and closed from
    its closed_from_call on. Record times: "before" long ago, "during" the
    time of the first DescribeStream call (the backup's start), "after" far
    in the future."""

    def __init__(self, path):
        with open(path) as source:
            self.shards = json.load(source)["shards"]
        self.calls = 0
        self.started = None
        self.lock = threading.Lock()

    def closed(self, shard):
        return shard.get("closed_from_call") is not None and self.calls >= shard["closed_from_call"]

    def record(self, shard, index):
        entry = shard["records"][index]
        when = {"before": 1e9, "during": self.started, "after": 4.1e9}[entry["when"]]
        change = {"ApproximateCreationDateTime": when, "Keys": entry["keys"],
                  "SequenceNumber": "%d%06d" % (shard["number"], index + 1),
                  "SizeBytes": 100, "StreamViewType": "NEW_IMAGE"}
        if entry.get("image"):
            change["NewImage"] = entry["image"]
        return {"eventID": "%s-%d" % (shard["id"], index), "eventName": entry["event"],
                "eventVersion": "1.1", "eventSource": "aws:dynamodb", "awsRegion": "us-east-1",
                "dynamodb": change}

    def answer(self, operation, request):
        with self.lock:
            if operation == "DescribeStream":
                self.calls += 1
                if self.started is None:
                    self.started = time.time()
                listed = []
                for number, shard in enumerate(self.shards):
                    shard["number"] = number + 1
                    if self.calls < shard.get("from_call", 1):
                        continue
                    described = {"ShardId": shard["id"], "SequenceNumberRange": {
                        "StartingSequenceNumber": "%d000001" % shard["number"]}}
                    if shard.get("parent"):
                        described["ParentShardId"] = shard["parent"]
                    if self.closed(shard):
                        described["SequenceNumberRange"]["EndingSequenceNumber"] = \
                            "%d%06d" % (shard["number"], len(shard["records"]))
                    listed.append(described)
                return {"StreamDescription": {"StreamArn": request["StreamArn"],
                                              "StreamStatus": "ENABLED",
                                              "StreamViewType": "NEW_IMAGE", "Shards": listed}}
            shard_of = {shard["id"]: shard for shard in self.shards}
            if operation == "GetShardIterator":
                shard = shard_of[request["ShardId"]]
                position = 0
                if request["ShardIteratorType"] == "AFTER_SEQUENCE_NUMBER":
                    position = int(request["SequenceNumber"][-6:])
                return {"ShardIterator": "%s|%d" % (shard["id"], position)}
            if operation == "GetRecords":
                name, position = request["ShardIterator"].rsplit("|", 1)
                shard, position = shard_of[name], int(position)
                records = [self.record(shard, i) for i in range(position, len(shard["records"]))]
                answer = {"Records": records}
                if not self.closed(shard):
                    answer["NextShardIterator"] = "%s|%d" % (name, len(shard["records"]))
                return answer
        raise KeyError(operation)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--upstream", required=True)
    parser.add_argument("--rate", type=float, default=0.1)
    parser.add_argument("--faults", default="throttle,error,reset,slow")
    parser.add_argument("--slow-seconds", type=float, default=0.2)
    parser.add_argument("--stats")
    parser.add_argument("--secret")
    parser.add_argument("--stream-script")
    parser.add_argument("--times", type=int, default=0,
                        help="fault at most this many requests (0: no limit)")
    parser.add_argument("--only", default="",
                        help="fault only requests whose 'METHOD target-or-path' matches")
    args = parser.parse_args()
    upstream = urllib.parse.urlsplit(args.upstream)
    faults = [kind for kind in args.faults.split(",") if kind]
    counts = {"requests": 0, "faults": 0}
    script = ScriptedStream(args.stream_script) if args.stream_script else None
    lock = threading.Lock()
    rng = random.Random(20261206)

    only = re.compile(args.only)

    def pick_fault(request):
        with lock:
            counts["requests"] += 1
            if args.times and counts["faults"] >= args.times:
                return None
            if faults and only.search(request) and rng.random() < args.rate:
                counts["faults"] += 1
                return rng.choice(faults)
        return None

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            super().setup()
            # Headers and body go out in separate writes; without this each
            # answer waits for the client's delayed acknowledgement.
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def log_message(self, *_):
            pass

        def answer(self, status, content_type, body, headers=()):
            data = body.encode()
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            # An answer to HEAD has no body, whatever its status: a client that
            # keeps the connection would read one as the next answer.
            if self.command != "HEAD":
                self.wfile.write(data)

        def fail(self, kind):
            if kind == "reset":
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
                self.close_connection = True
                return
            service = "dynamodb" if "X-Amz-Target" in self.headers else "s3"
            status, content_type, body = FAULTS[kind, service]
            self.answer(status, content_type, body)

        def forward(self):
            length = int(self.headers.get("Content-Length", 0))
            body = self.rfile.read(length) if length else None
            if args.secret and not signature_matches(self.command, self.path, self.headers, body,
                                                     args.secret):
                self.answer(403, "application/xml",
                            "<Error><Code>SignatureDoesNotMatch</Code><Message>The request "
                            "signature we calculated does not match the signature you provided."
                            "</Message></Error>")
                return
            target = self.headers.get("X-Amz-Target", "")
            if script and target.startswith("DynamoDBStreams_20120810."):
                answer = script.answer(target.split(".", 1)[1], json.loads(body))
                self.answer(200, "application/x-amz-json-1.0", json.dumps(answer))
                return
            fault = pick_fault(f"{self.command} {target or self.path}")
            if fault == "ack" and self.command == "PUT":
                self.answer(200, "application/xml", "",
                            [("ETag", '"%s"' % hashlib.md5(body or b"").hexdigest())])
                return
            if fault == "truncate" and body:
                body = body[:len(body) // 2]
            if fault == "unapplied" and target.endswith("BatchWriteItem"):
                request = json.loads(body)
                for requests in request["RequestItems"].values():
                    del requests[:1]
                body = json.dumps(request).encode()
            if fault == "blackhole":
                time.sleep(3600)
                return
            if fault not in (None, "slow", "ack", "truncate", "flip", "unapplied", "drip", "loop",
                             "lost"):
                self.fail(fault)
                return
            connection = http.client.HTTPConnection(upstream.hostname, upstream.port, timeout=60)
            headers = {name: value for name, value in self.headers.items()
                       if name.lower() not in HOP_BY_HOP and name.lower() != "content-length"}
            if body is not None:
                headers["Content-Length"] = str(len(body))
            connection.request(self.command, self.path, body=body, headers=headers)
            response = connection.getresponse()
            data = response.read()
            connection.close()
            if fault == "slow":
                time.sleep(args.slow_seconds)
            if fault == "lost":
                self.fail("reset")
                return
            if fault == "loop" and target.endswith(".Scan"):
                answer = json.loads(data)
                start = json.loads(body).get("ExclusiveStartKey")
                if start is None and answer.get("Items"):
                    start = {"pk": answer["Items"][0]["pk"]}
                if start is not None:
                    answer["LastEvaluatedKey"] = start
                data = json.dumps(answer).encode()
            if fault == "flip" and self.command == "GET" and data:
                middle = len(data) // 2
                data = data[:middle] + bytes([data[middle] ^ 0x20]) + data[middle + 1:]
            self.send_response(response.status)
            for name, value in response.getheaders():
                if name.lower() not in HOP_BY_HOP and name.lower() != "content-length":
                    self.send_header(name, value)
            # A HEAD answer tells the length of what a GET would send.
            self.send_header("Content-Length", response.getheader("Content-Length", "0")
                             if self.command == "HEAD" else str(len(data)))
            self.end_headers()
            if self.command == "HEAD":
                return
            if fault == "drip":
                for at in range(0, len(data), 2):
                    self.wfile.write(data[at:at + 2])
                    self.wfile.flush()
                    time.sleep(1)
                return
            self.wfile.write(data)

        do_GET = do_PUT = do_POST = do_HEAD = do_DELETE = forward

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True

    def stop(*_):
        if args.stats:
            with open(args.stats, "w") as out:
                out.write("requests %d faults %d\n" % (counts["requests"], counts["faults"]))
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    server.serve_forever()


if __name__ == "__main__":
    main()
