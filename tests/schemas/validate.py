#!/usr/bin/env python3
"""Validates JSON files against a JSON Schema (draft 2020-12).

    validate.py [--records] [--match GLOB] SCHEMA PATH...

Each PATH is a file, or a folder whose files matching GLOB are taken. With
--records every file must also be exactly one line ended by a line feed, as
the launcher writes its records. Fails when any file is invalid, and when no
file was found at all.
"""
import argparse
import json
import pathlib
import sys

from jsonschema import Draft202012Validator


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", action="store_true")
    parser.add_argument("--match", default="*.json")
    parser.add_argument("schema")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()

    schema = json.loads(pathlib.Path(args.schema).read_text(encoding="utf-8"))
    Draft202012Validator.check_schema(schema)
    validator = Draft202012Validator(schema)

    files = []
    for path in map(pathlib.Path, args.paths):
        if path.is_dir():
            files.extend(sorted(path.glob(args.match)))
        elif path.exists():
            files.append(path)
    if not files:
        print(f"no file to check in {', '.join(args.paths)}", file=sys.stderr)
        return 1

    failures = 0
    for file in files:
        raw = file.read_bytes()
        problems = []
        if args.records and (not raw.endswith(b"\n") or raw.count(b"\n") != 1):
            problems.append("not exactly one line ended by a line feed")
        try:
            document = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError) as error:
            problems.append(f"not JSON: {error}")
        else:
            problems += [f"{'/'.join(map(str, e.absolute_path)) or '(top)'}: {e.message}"
                         for e in validator.iter_errors(document)]
        for problem in problems:
            print(f"{file}: {problem}", file=sys.stderr)
        failures += bool(problems)
    print(f"{len(files) - failures} of {len(files)} files valid against {pathlib.Path(args.schema).name}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
