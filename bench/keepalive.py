#!/usr/bin/env python3
"""Persistent connections against one request per connection, over HTTPS.

One client sends GETs one after another for SECONDS each way: first a new
connection (and a full TLS handshake) per request, then all requests over one
kept-alive connection. Prints req/s, p50 and p99 for the service root and a
plug-in GET (HTTP Basic credentials), and the gain.

usage: keepalive.py --port P --password PW [--seconds S] [--get-uri URI]
"""
import argparse
import base64
import http.client
import ssl
import time


def percentile(values, fraction):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def measure(port, uri, headers, seconds, persistent):
    context = ssl._create_unverified_context()
    latencies = []
    errors = 0
    connection = None
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        start = time.monotonic()
        try:
            if connection is None:
                connection = http.client.HTTPSConnection("127.0.0.1", port, context=context,
                                                         timeout=10)
            request_headers = dict(headers)
            if not persistent:
                request_headers["Connection"] = "close"
            connection.request("GET", uri, headers=request_headers)
            response = connection.getresponse()
            response.read()
            if response.status != 200:
                errors += 1
            if not persistent or response.getheader("Connection", "").lower() == "close":
                connection.close()
                connection = None
        except (OSError, http.client.HTTPException):
            errors += 1
            if connection is not None:
                connection.close()
            connection = None
        latencies.append((time.monotonic() - start) * 1000.0)
    if connection is not None:
        connection.close()
    return {"rps": len(latencies) / seconds, "p50": percentile(latencies, 0.50),
            "p99": percentile(latencies, 0.99), "errors": errors}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--get-uri", default="/redfish/v1/Systems/1")
    args = parser.parse_args()
    basic = base64.b64encode(f"admin:{args.password}".encode()).decode()
    cases = [("root", "/redfish/v1/", {}),
             ("get", args.get_uri, {"Authorization": "Basic " + basic})]
    print()
    print("Persistent connections (standard profile, HTTPS, 1 client, sequential GETs):")
    header = (f"{'GET':<5} {'connection':<22} {'req/s':>8} {'p50 ms':>7} {'p99 ms':>7} "
              f"{'err':>5} {'gain':>6}")
    print(header)
    print("-" * len(header))
    for name, uri, headers in cases:
        fresh = measure(args.port, uri, headers, args.seconds, persistent=False)
        kept = measure(args.port, uri, headers, args.seconds, persistent=True)
        for label, result, gain in (("new one per request", fresh, ""),
                                    ("one kept alive", kept,
                                     f"{kept['rps'] / fresh['rps']:.1f}x" if fresh["rps"] else "")):
            print(f"{name:<5} {label:<22} {result['rps']:>8.0f} {result['p50']:>7.2f} "
                  f"{result['p99']:>7.2f} {result['errors']:>5} {gain:>6}")


if __name__ == "__main__":
    main()
