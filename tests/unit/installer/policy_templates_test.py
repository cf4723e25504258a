#!/usr/bin/env python3
"""The Group Policy templates (installer/policy) as the Group Policy editor
reads them: well-formed, every string, presentation, category and platform
they name defined (strings and presentations in both languages), and exactly
the key, value names, types and ranges the service reads
(config/setting_names.h, the check period's bounds in service/alarm_manager.h).

policy_templates_test.py SOURCE_ROOT
"""

import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.getcwd()
NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
REFERENCE = re.compile(r"\$\((string|presentation)\.([^)]+)\)")
ADMX = ET.parse(os.path.join(ROOT, "installer", "policy", "QuendorAlarm.admx")).getroot()
ADML = {language: ET.parse(os.path.join(ROOT, "installer", "policy", language,
                                        "QuendorAlarm.adml")).getroot()
        for language in ("en-US", "ru-RU")}
POLICIES = ADMX.findall("p:policies/p:policy", NS)


def source(*path):
    with open(os.path.join(ROOT, *path), encoding="utf-8") as text:
        return text.read()


# The wide-string constants of config/setting_names.h, unescaped.
NAMES = {name: value.replace("\\\\", "\\") for name, value in re.findall(
    r'inline constexpr wchar_t (k\w+)\[\] = L"((?:[^"\\]|\\.)*)";',
    source("config", "setting_names.h"))}


def written():
    """Every value written: value name -> (key, the policy or element)."""
    values = {}
    for policy in POLICIES:
        writers = [policy] if policy.get("valueName") else []
        for writer in writers + policy.findall("p:elements/*", NS):
            assert writer.get("valueName") not in values
            values[writer.get("valueName")] = (writer.get("key", policy.get("key")), writer)
    return values


class Templates(unittest.TestCase):
    def test_every_reference_is_defined_and_strings_in_both_languages(self):
        self.assertEqual("{%s}policyDefinitions" % NS["p"], ADMX.tag)
        named = {"string": set(), "presentation": set()}
        for node in ADMX.iter():
            for value in node.attrib.values():
                for kind, ident in REFERENCE.findall(value):
                    named[kind].add(ident)
        for language, adml in ADML.items():
            resources = adml.find("p:resources", NS)
            self.assertEqual(named["string"], {s.get("id") for s in resources.findall(
                "p:stringTable/p:string", NS)}, language)
            shown = {p.get("id"): p for p in resources.findall(
                "p:presentationTable/p:presentation", NS)}
            self.assertEqual(named["presentation"], set(shown), language)
            # A presentation shows exactly its policy's elements.
            for policy in POLICIES:
                reference = REFERENCE.fullmatch(policy.get("presentation", ""))
                boxes = shown[reference.group(2)] if reference else []
                self.assertEqual({e.get("id") for e in policy.findall("p:elements/*", NS)},
                                 {box.get("refId") for box in boxes}, language)
        categories = {c.get("name") for c in ADMX.findall("p:categories/p:category", NS)}
        platforms = {d.get("name") for d in ADMX.findall("p:supportedOn/p:definitions/*", NS)}
        for policy in POLICIES:
            self.assertIn(policy.find("p:parentCategory", NS).get("ref"), categories)
            self.assertIn(policy.find("p:supportedOn", NS).get("ref"), platforms)

    def test_the_templates_write_exactly_the_machine_values_the_service_reads(self):
        read = {NAMES["kComPortValue"], NAMES["kCheckDelayValue"], NAMES["kAdminOnlyValue"]}
        values = written()
        self.assertEqual(read, set(values))
        self.assertEqual({NAMES["kPolicyKeyPath"]}, {key for key, _ in values.values()})
        self.assertEqual({"Machine"}, {policy.get("class") for policy in POLICIES})

    def test_each_value_has_the_type_and_range_the_service_takes(self):
        values = written()
        # 1 or 0, the only DWORDs the service takes.
        switch = values[NAMES["kAdminOnlyValue"]][1]
        self.assertEqual("1", switch.find("p:enabledValue/p:decimal", NS).get("value"))
        self.assertEqual("0", switch.find("p:disabledValue/p:decimal", NS).get("value"))
        # REG_SZ, never REG_EXPAND_SZ.
        port = values[NAMES["kComPortValue"]][1]
        self.assertEqual(("{%s}text" % NS["p"], None), (port.tag, port.get("expandable")))
        # REG_DWORD, never text, within the stored value's range.
        delay = values[NAMES["kCheckDelayValue"]][1]
        self.assertEqual(("{%s}decimal" % NS["p"], None), (delay.tag, delay.get("storeAsText")))
        header = source("service", "alarm_manager.h")
        low, high = (int(re.search(r"k%sConnectCheckDelay = (\d+);" % bound, header).group(1))
                     for bound in ("Min", "Max"))
        self.assertEqual((low, high), (int(delay.get("minValue")), int(delay.get("maxValue"))))
        for language, adml in ADML.items():
            box = adml.find(".//p:decimalTextBox[@refId='%s']" % delay.get("id"), NS)
            self.assertTrue(low <= int(box.get("defaultValue")) <= high, language)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
