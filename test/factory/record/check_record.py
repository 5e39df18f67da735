#!/usr/bin/env python3
"""Checks a JUnit and a JSON record of one run with parsers of their own and the JSON one
against the shipped schema, and that they and the exit status tell the same story; prints the
story as a short digest."""
import json
import sys
import xml.etree.ElementTree as ET

import jsonschema

EXIT = {"passed": 0, "failed": 1, "incomplete": 3}


def as_xml_keeps(text):
    """What of a text XML 1.0 can carry: every other character becomes U+FFFD."""
    def allowed(c):
        n = ord(c)
        return (c in "\t\n\r" or 0x20 <= n <= 0xD7FF or 0xE000 <= n <= 0xFFFD
                or 0x10000 <= n <= 0x10FFFF)
    return "".join(c if allowed(c) else "\ufffd" for c in text)


def fail(why):
    print("record check: " + why)
    sys.exit(1)


def props(element):
    return [(p.get("name"), p.get("value")) for p in element.findall("properties/property")]


def main(junit_path, json_path, status, schema_path):
    suites = ET.parse(junit_path).getroot()
    record = json.load(open(json_path, encoding="utf-8"))
    jsonschema.Draft202012Validator(json.load(open(schema_path))).validate(record)
    if suites.tag != "testsuites" or len(suites) != 1:
        fail("not one testsuite inside testsuites")
    suite = suites[0]
    cases = suite.findall("testcase")
    failures = sum(len(c.findall("failure")) for c in cases)
    errors = sum(len(c.findall("error")) for c in cases)
    skipped = sum(len(c.findall("skipped")) for c in cases)
    if (suite.get("tests"), suite.get("failures"), suite.get("errors"), suite.get("skipped")) != (
            str(len(cases)), str(failures), str(errors), str(skipped)):
        fail("testsuite counts disagree with its testcases")
    if suite.get("name") != (record["model"] or "unknown model"):
        fail("testsuite name is not the model id")
    if dict(props(suite)).get("unit") != record["unit"]:
        fail("the unit differs")
    if suite.get("timestamp") != record.get("start"):
        fail("start differs")
    if (record["verdict"] == "passed") != (failures + errors == 0):
        fail("the JUnit record does not show the verdict")
    if EXIT[record["verdict"]] != status:
        fail("exit status %d for %s" % (status, record["verdict"]))

    def text(case):
        out = case.find("system-out")
        return "" if out is None else out.text or ""

    def outcome(case):
        return ("failed" if case.find("failure") is not None else
                "incomplete" if case.find("error") is not None else
                "not run" if case.find("skipped") is not None else "passed")

    tests = [c for c in cases if c.get("classname") == "bw-selftest.tests"]
    if [(c.get("name"), outcome(c), text(c), [p for p in props(c) if ".check" not in p[0]])
            for c in tests] != [(t["name"], t["verdict"], as_xml_keeps(t["narration"]),
                                 [(m["name"], as_xml_keeps(str(m["value"])))
                                  for m in t["measurements"]])
                                for t in record["tests"]]:
        fail("the tests differ between the records")
    steps = [c for c in cases if c.get("classname") == "bw-selftest.steps"]
    if [(c.get("name"), outcome(c), text(c)) for c in steps] != [
            (s["name"], s["outcome"], as_xml_keeps(s["output"])) for s in record["steps"]]:
        fail("the steps differ between the records")

    print("%s (exit %d): %s" % (record["verdict"], status, record["reason"]))
    tests = ", ".join("%s %s/%d lines" % (t["name"], t["verdict"], t["narration"].count("\n") + 1)
                      for t in record["tests"])
    print("%s, %s%s%s%s" % (json.dumps(record["model"]), record["road"],
                            ", powers off" if record["poweroff"] else "",
                            ": " + tests if tests else "",
                            "; " + record["summary"] if record["summary"] else ""))
    if record["steps"]:
        print("steps: " + ", ".join("%s %s" % (s["name"], s["outcome"]) for s in record["steps"]))
    values = ["%s %s" % (t["name"], " ".join(
        "%s=%s%s" % (m["name"], m["value"] if m["type"] != "text" else json.dumps(m["value"]),
                     "!" if m["check"] == "failed" else "") for m in t["measurements"]))
              for t in record["tests"] if t["measurements"]]
    print("unit %s%s" % (record["unit"] or "unknown", "; " + "; ".join(values) if values else ""))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4])
