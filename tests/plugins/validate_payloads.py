#!/usr/bin/env python3
"""Checks the resource plug-in's payloads against the DMTF Redfish schemas.

usage: validate_payloads.py DUMP_TOOL SCHEMA_DIR

Runs DUMP_TOOL (prints {"uri or label": payload}) and validates every
payload: resources by their "@odata.type", error payloads against
redfish-error. Exits 77 (skipped) when the schemas or the validator are not
there, except under CI=true, where a check that did not run is a failure.
"""
import json
import os
import subprocess
import sys
import warnings

warnings.filterwarnings("ignore", category=DeprecationWarning)


def not_run(reason):
    """77 (skipped) on a developer's machine; 1 under CI, which must check."""
    if os.environ.get("CI") == "true":
        print("%s; failing: CI=true needs this check to run" % reason)
        return 1
    print("%s; skipping" % reason)
    return 77


try:
    import jsonschema
except ImportError:
    sys.exit(not_run("python3-jsonschema is missing"))

# Swordfish collections have no schema among the DMTF Redfish schemas.
NO_SCHEMA = {"#StorageServiceCollection.StorageServiceCollection",
             "#StorageSystemCollection.StorageSystemCollection"}


def load_store(schema_dir):
    store = {}
    for name in os.listdir(schema_dir):
        if name.endswith(".json"):
            with open(os.path.join(schema_dir, name), encoding="utf-8") as f:
                doc = json.load(f)
            store["http://redfish.dmtf.org/schemas/v1/" + name] = doc
            if "$id" in doc:
                store[doc["$id"]] = doc
    return store


class LocalResolver(jsonschema.RefResolver):
    """Resolves only from the local files. The folder holds the newest
    version of each schema; a reference to an older version (a newer one is
    a superset) is served by the newest of the same name."""

    def resolve_remote(self, uri):
        name = uri.rsplit("/", 1)[-1]
        stem = name.split(".")[0]
        candidates = [u for u in self.store if u.rsplit("/", 1)[-1].startswith(stem + ".v")]
        if not candidates:
            if "/swordfish/" in uri:
                # Swordfish schemas are not among the DMTF Redfish files:
                # links to them are taken as they are.
                return {"definitions": {stem: {}}}
            raise LookupError("no local schema for " + uri)
        newest = max(candidates, key=lambda u: [int(x) for x in
                                                u.rsplit("/", 1)[-1].split(".")[1][1:].split("_")])
        return self.store[newest]


def validator_for(store, file_name, definition):
    url = "http://redfish.dmtf.org/schemas/v1/" + file_name
    if url not in store:
        raise LookupError("no schema " + file_name)
    schema = {"$ref": url + "#/definitions/" + definition}
    resolver = LocalResolver(base_uri=url, referrer=store[url], store=store)
    return jsonschema.Draft7Validator(schema, resolver=resolver)


def schema_of(odata_type):
    # "#Drive.v1_22_0.Drive" -> ("Drive.v1_22_0.json", "Drive")
    # "#DriveCollection.DriveCollection" -> ("DriveCollection.json", "DriveCollection")
    parts = odata_type.lstrip("#").split(".")
    if len(parts) == 3:
        return parts[0] + "." + parts[1] + ".json", parts[2]
    return parts[0] + ".json", parts[1]


def oem_objects(value, path=""):
    """Yields (path, object) for every object under an "Oem" property; the
    OEM actions under "Actions" are described by their action schema."""
    if isinstance(value, dict):
        for key, member in value.items():
            if key == "Oem" and isinstance(member, dict) and not path.endswith("/Actions"):
                for name, obj in member.items():
                    yield path + "/Oem/" + name, obj
            else:
                yield from oem_objects(member, path + "/" + key)
    elif isinstance(value, list):
        for i, member in enumerate(value):
            yield from oem_objects(member, "%s/%d" % (path, i))


def check_oem(store, key, payload):
    """Every OEM object names its type, and a schema the service serves
    describes it. Returns the number of failures."""
    failures = 0
    for path, obj in oem_objects(payload):
        odata_type = obj.get("@odata.type") if isinstance(obj, dict) else None
        if not odata_type:
            print("FAIL %s at %s: no @odata.type" % (key, path))
            failures += 1
            continue
        name, definition = schema_of(odata_type)
        url = next((u for u in store if u.endswith("/" + name)), None)
        if url is None:
            print("FAIL %s at %s: no served schema %s" % (key, path, name))
            failures += 1
            continue
        schema = {"$ref": url + "#/definitions/" + definition}
        resolver = LocalResolver(base_uri=url, referrer=store[url], store=store)
        for e in jsonschema.Draft7Validator(schema, resolver=resolver).iter_errors(obj):
            print("FAIL %s at %s: %s" % (key, path, e.message))
            failures += 1
    return failures


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    tool, schema_dir = sys.argv[1], sys.argv[2]
    if not os.path.isdir(schema_dir) or not any(
            n.endswith(".json") for n in os.listdir(schema_dir)):
        return not_run("schemas not found at %s" % schema_dir)
    store = load_store(schema_dir)
    dump = json.loads(subprocess.run([tool], check=True, capture_output=True, text=True).stdout)
    for key in [k for k in dump if k.startswith("schema:")]:
        served = dump.pop(key)
        store[served.get("$id", key[len("schema:"):])] = served
    error_validator = validator_for(store, "redfish-error.v1_0_2.json", "RedfishError")
    checked, failures, types = 0, 0, set()
    for key, payload in dump.items():
        if key.startswith("error:"):
            validator = error_validator
        elif key.startswith("action:"):
            validator = validator_for(store, "Message.v1_3_0.json", "Message")
            payload = payload["@Message.ExtendedInfo"][0]
        else:
            odata_type = payload.get("@odata.type", "")
            if odata_type in NO_SCHEMA:
                continue
            try:
                validator = validator_for(store, *schema_of(odata_type))
            except LookupError as e:
                print("FAIL %s: %s" % (key, e))
                failures += 1
                continue
            types.add(odata_type)
            if not key.startswith(("login:", "create:", "event:", "registry:")) and payload.get("@odata.id") != key:
                print("FAIL %s: @odata.id is %s" % (key, payload.get("@odata.id")))
                failures += 1
        failures += check_oem(store, key, payload)
        errors = sorted(validator.iter_errors(payload), key=lambda e: list(e.path))
        for e in errors:
            print("FAIL %s at %s: %s" % (key, "/".join(map(str, e.path)), e.message))
        failures += 1 if errors else 0
        checked += 1
    for required in ("#Storage.v1_21_0.Storage", "#Drive.v1_22_0.Drive", "#Volume.v1_10_2.Volume",
                     "#Session.v1_8_0.Session", "#ManagerAccount.v1_14_1.ManagerAccount",
                     "#VolumeCollection.VolumeCollection", "#Event.v1_13_0.Event",
                     "#EventDestination.v1_16_0.EventDestination"):
        if required not in types:
            print("FAIL no payload of type %s was checked" % required)
            failures += 1
    print("%d payloads checked against the schemas, %d of %d types" % (checked, len(types), len(types)))
    print("%d passed, %d failed" % (checked - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
