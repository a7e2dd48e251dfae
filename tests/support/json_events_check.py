#!/usr/bin/env python3
"""Checks that every line of the given files is a JSON event the schema
allows. Standard library only: this validates the part of JSON Schema the
schema uses (type, const, enum, required, properties, additionalProperties,
items, minimum, maximum, pattern, oneOf and local $ref), and refuses a schema
that uses anything else, so that a keyword it does not know is never
silently passed.

usage: json_events_check.py SCHEMA FILE...
"""
import json
import re
import sys

KNOWN = {"$schema", "$defs", "$ref", "title", "description", "type", "const", "enum",
         "required", "properties", "additionalProperties", "items", "minimum", "maximum",
         "pattern", "oneOf"}
TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
    "boolean": lambda v: isinstance(v, bool),
    "null": lambda v: v is None,
}


def check_schema(node, where="#"):
    unknown = set(node) - KNOWN
    if unknown:
        raise SystemExit("schema %s: keywords this checker does not know: %s"
                         % (where, sorted(unknown)))
    for key, value in node.items():
        if key in ("$defs", "properties"):  # names, each with a schema
            for name, sub in value.items():
                check_schema(sub, "%s/%s/%s" % (where, key, name))
        elif key in ("items", "additionalProperties") and isinstance(value, dict):
            check_schema(value, where + "/" + key)
        elif key == "oneOf":
            for i, sub in enumerate(value):
                check_schema(sub, "%s/oneOf/%d" % (where, i))


class Validator:
    def __init__(self, schema):
        check_schema(schema)
        self.root = schema

    def resolve(self, ref):
        if not ref.startswith("#/"):
            raise SystemExit("only local references: " + ref)
        node = self.root
        for part in ref[2:].split("/"):
            node = node[part]
        return node

    def errors(self, schema, value, path="$"):
        if "$ref" in schema:
            return self.errors(self.resolve(schema["$ref"]), value, path)
        if "oneOf" in schema:
            matches = [s for s in schema["oneOf"] if not self.errors(s, value, path)]
            if len(matches) != 1:
                hint = ""
                if isinstance(value, dict) and "event" in value:
                    hint = " (event %r)" % value["event"]
                    for s in schema["oneOf"]:
                        target = self.resolve(s["$ref"]) if "$ref" in s else s
                        const = target.get("properties", {}).get("event", {}).get("const")
                        if const == value["event"]:
                            return self.errors(target, value, path)
                return ["%s: matches %d of the allowed forms, not one%s"
                        % (path, len(matches), hint)]
        found = []
        types = schema.get("type")
        if types is not None:
            types = [types] if isinstance(types, str) else types
            if not any(TYPES[t](value) for t in types):
                return ["%s: %r is not of type %s" % (path, value, "/".join(types))]
        if "const" in schema and value != schema["const"]:
            found.append("%s: %r is not %r" % (path, value, schema["const"]))
        if "enum" in schema and value not in schema["enum"]:
            found.append("%s: %r is not one of %s" % (path, value, schema["enum"]))
        if isinstance(value, (int, float)) and not isinstance(value, bool):
            if "minimum" in schema and value < schema["minimum"]:
                found.append("%s: %r is below %r" % (path, value, schema["minimum"]))
            if "maximum" in schema and value > schema["maximum"]:
                found.append("%s: %r is above %r" % (path, value, schema["maximum"]))
        if isinstance(value, str) and "pattern" in schema:
            if not re.search(schema["pattern"], value):
                found.append("%s: %r does not match %s" % (path, value, schema["pattern"]))
        if isinstance(value, dict):
            for key in schema.get("required", []):
                if key not in value:
                    found.append("%s: no %r" % (path, key))
            properties = schema.get("properties", {})
            for key, item in value.items():
                if key in properties:
                    found += self.errors(properties[key], item, path + "." + key)
                elif schema.get("additionalProperties", True) is False:
                    found.append("%s: %r is not allowed" % (path, key))
        if isinstance(value, list) and "items" in schema:
            for i, item in enumerate(value):
                found += self.errors(schema["items"], item, "%s[%d]" % (path, i))
        return found


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    validator = Validator(json.load(open(sys.argv[1])))
    failed = 0
    checked = 0
    for name in sys.argv[2:]:
        with open(name, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if not line.strip():
                    print("%s:%d: an empty line" % (name, number))
                    failed += 1
                    continue
                checked += 1
                try:
                    event = json.loads(line)
                except ValueError as e:
                    print("%s:%d: not JSON: %s" % (name, number, e))
                    failed += 1
                    continue
                for error in validator.errors(validator.root, event):
                    print("%s:%d: %s" % (name, number, error))
                    failed += 1
    if failed:
        sys.exit(1)
    print("%d events valid" % checked)


if __name__ == "__main__":
    main()
