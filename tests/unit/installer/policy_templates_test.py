#!/usr/bin/env python3
"""The Group Policy templates (installer/policy) read as the Group Policy
editor reads them: well-formed, every string and presentation they name
defined in both languages, and exactly the key, value names, types and
ranges that the service reads (config/setting_names.h, the check period's
bounds in service/alarm_manager.h).

policy_templates_test.py SOURCE_ROOT
"""

import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.getcwd()
POLICY = os.path.join(ROOT, "installer", "policy")
LANGUAGES = ("en-US", "ru-RU")
NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
REFERENCE = re.compile(r"\$\((string|presentation)\.([^)]+)\)")


def parse(*path):
    return ET.parse(os.path.join(POLICY, *path)).getroot()


def admx():
    return parse("QuendorAlarm.admx")


def adml(language):
    return parse(language, "QuendorAlarm.adml")


def setting_names():
    """The wide-string constants of config/setting_names.h, unescaped."""
    with open(os.path.join(ROOT, "config", "setting_names.h"), encoding="utf-8") as header:
        text = header.read()
    found = re.findall(r'inline constexpr wchar_t (k\w+)\[\] = L"((?:[^"\\]|\\.)*)";', text)
    return {name: value.replace("\\\\", "\\") for name, value in found}


def check_delay_bounds():
    with open(os.path.join(ROOT, "service", "alarm_manager.h"), encoding="utf-8") as header:
        text = header.read()
    bound = lambda name: int(re.search(r"k%sConnectCheckDelay = (\d+);" % name, text).group(1))
    return bound("Min"), bound("Max")


def policies():
    return admx().findall("p:policies/p:policy", NS)


def written_values():
    """(key, value name, the element or policy that writes it) of every value."""
    values = []
    for policy in policies():
        key = policy.get("key")
        if policy.get("valueName"):
            values.append((key, policy.get("valueName"), policy))
        for element in policy.findall("p:elements/*", NS):
            values.append((element.get("key", key), element.get("valueName"), element))
    return values


def written(value_name):
    matches = [writer for _, name, writer in written_values() if name == value_name]
    assert len(matches) == 1, value_name
    return matches[0]


class Templates(unittest.TestCase):
    def test_every_template_is_well_formed_xml_of_its_kind(self):
        self.assertEqual("{%s}policyDefinitions" % NS["p"], admx().tag)
        for language in LANGUAGES:
            self.assertEqual("{%s}policyDefinitionResources" % NS["p"], adml(language).tag)

    def test_every_string_and_presentation_named_is_defined_in_both_languages(self):
        named = {"string": set(), "presentation": set()}
        for node in admx().iter():
            for value in node.attrib.values():
                for kind, ident in REFERENCE.findall(value):
                    named[kind].add(ident)
        self.assertTrue(named["string"] and named["presentation"])
        defined = {}
        for language in LANGUAGES:
            resources = adml(language).find("p:resources", NS)
            strings = {s.get("id") for s in resources.findall("p:stringTable/p:string", NS)}
            shown = resources.findall("p:presentationTable/p:presentation", NS)
            self.assertEqual(named["string"], strings, language)
            self.assertEqual(named["presentation"], {p.get("id") for p in shown}, language)
            defined[language] = {p.get("id"): p for p in shown}
        # Each policy's presentation shows exactly its own elements.
        for policy in policies():
            reference = REFERENCE.fullmatch(policy.get("presentation", ""))
            elements = {e.get("id") for e in policy.findall("p:elements/*", NS)}
            for language in LANGUAGES:
                shown = set()
                if reference:
                    shown = {c.get("refId") for c in defined[language][reference.group(2)]}
                self.assertEqual(elements, shown, (policy.get("name"), language))

    def test_categories_and_platforms_referred_to_are_defined(self):
        root = admx()
        categories = {c.get("name") for c in root.findall("p:categories/p:category", NS)}
        platforms = {d.get("name") for d in root.findall("p:supportedOn/p:definitions/p:definition", NS)}
        for policy in policies():
            self.assertIn(policy.find("p:parentCategory", NS).get("ref"), categories)
            self.assertIn(policy.find("p:supportedOn", NS).get("ref"), platforms)

    def test_the_templates_write_exactly_the_machine_values_the_service_reads(self):
        names = setting_names()
        read = {names["kComPortValue"], names["kCheckDelayValue"], names["kAdminOnlyValue"]}
        values = written_values()
        self.assertEqual(sorted(read), sorted(name for _, name, _ in values))
        self.assertEqual({names["kPolicyKeyPath"]}, {key for key, _, _ in values})
        self.assertEqual({"Machine"}, {policy.get("class") for policy in policies()})

    def test_each_value_has_the_type_and_range_the_service_takes(self):
        names = setting_names()
        # The switch writes 1 or 0, the only DWORDs the service takes.
        admin_only = written(names["kAdminOnlyValue"])
        self.assertEqual("1", admin_only.find("p:enabledValue/p:decimal", NS).get("value"))
        self.assertEqual("0", admin_only.find("p:disabledValue/p:decimal", NS).get("value"))
        # REG_SZ, never REG_EXPAND_SZ.
        port = written(names["kComPortValue"])
        self.assertEqual("{%s}text" % NS["p"], port.tag)
        self.assertNotEqual("true", port.get("expandable"))
        # REG_DWORD, never text, within the stored value's range.
        delay = written(names["kCheckDelayValue"])
        self.assertEqual("{%s}decimal" % NS["p"], delay.tag)
        self.assertNotEqual("true", delay.get("storeAsText"))
        low, high = check_delay_bounds()
        self.assertEqual((low, high), (int(delay.get("minValue")), int(delay.get("maxValue"))))
        for language in LANGUAGES:
            box = adml(language).find(".//p:decimalTextBox[@refId='%s']" % delay.get("id"), NS)
            self.assertTrue(low <= int(box.get("defaultValue")) <= high, language)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
