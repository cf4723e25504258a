#!/usr/bin/env python3
"""The fleet's event-collector subscription as wecutil reads it: its XML and
the query inside are well formed, and it selects from the Application log,
source Tolvane, only ids the README's Events table documents.

subscription_test.py SUBSCRIPTION README
"""

import re
import sys
import unittest
import xml.etree.ElementTree as ElementTree

SUBSCRIPTION = sys.argv[1] if len(sys.argv) > 1 else ""
README = sys.argv[2] if len(sys.argv) > 2 else ""
NS = "{http://schemas.microsoft.com/2006/03/windows/events/subscription}"


def documented_ids():
    """The ids of the README's Events table: the first column of its rows."""
    with open(README, encoding="utf-8") as readme:
        text = readme.read()
    section = text.split("\n## Events\n", 1)[1].split("\n## ", 1)[0]
    return {int(number) for number in re.findall(r"^\| (\d+) \|", section, re.MULTILINE)}


class Subscription(unittest.TestCase):
    def test_selects_only_documented_events_of_tolvane_from_the_application_log(self):
        root = ElementTree.parse(SUBSCRIPTION).getroot()
        self.assertEqual(NS + "Subscription", root.tag)
        self.assertEqual("SourceInitiated", root.findtext(NS + "SubscriptionType"))
        queries = ElementTree.fromstring(root.findtext(NS + "Query").strip())
        selects = queries.findall("./Query/Select")
        self.assertEqual(1, len(selects))
        self.assertEqual("Application", selects[0].get("Path"))
        path = selects[0].text
        self.assertIn("Provider[@Name='Tolvane']", path)
        # Every mention of EventID is an equality with a number.
        selected = [int(number) for number in re.findall(r"EventID=(\d+)", path)]
        self.assertEqual(path.count("EventID"), len(selected), path)
        self.assertTrue(selected)
        self.assertLessEqual(set(selected), documented_ids())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
