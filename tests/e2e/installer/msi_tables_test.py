#!/usr/bin/env python3
"""The built package read back from its tables (msitools' msiinfo and
msiextract), as Windows Installer will act on them: Wine runs custom actions
of any type and ignores the fourth version field differently, so what
Windows does is decided here.

msi_tables_test.py MSI VERSION: VERSION is the project's, which the
programs' version resources also carry.
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

MSI = sys.argv[1] if len(sys.argv) > 1 else ""
VERSION = sys.argv[2] if len(sys.argv) > 2 else ""

# The service's names of its settings key and values.
SETTING_NAMES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                             "config", "setting_names.h")

# Custom action type bits (Windows Installer's msidbCustomActionType*).
EXE_FROM_INSTALLED_FILE = 0x12  # Exe (0x2) + SourceFile (0x10)
SET_PROPERTY = 0x33  # TextData (0x3) + Property (0x30): type 51
CONTINUE = 0x40
ROLLBACK = 0x100
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800

# ServiceControl events (msidbServiceControlEvent*).
START_INSTALL, STOP_INSTALL, DELETE_INSTALL = 0x1, 0x2, 0x8
STOP_UNINSTALL, DELETE_UNINSTALL = 0x20, 0x80

# Upgrade attributes (msidbUpgradeAttributes*).
ONLY_DETECT = 0x2
VERSION_MIN_INCLUSIVE = 0x100
VERSION_MAX_INCLUSIVE = 0x200


def table(name):
    """Rows of a table as dictionaries by column name."""
    text = subprocess.run(["msiinfo", "export", MSI, name], check=True,
                          capture_output=True, text=True).stdout
    lines = text.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


class Condition:
    """Evaluates a Windows Installer condition with the operators the
    package uses: NOT, AND, OR, =, <>, parentheses, properties and string
    literals. A property alone is true when it has a value."""

    TOKEN = re.compile(r'\s*(\(|\)|<>|=|"[^"]*"|[A-Za-z_][A-Za-z0-9_.]*)')

    def __init__(self, text, properties):
        self.tokens = []
        position = 0
        text = text.strip()
        while position < len(text):
            match = self.TOKEN.match(text, position)
            if not match:
                raise ValueError("cannot read condition: " + text)
            self.tokens.append(match.group(1))
            position = match.end()
        self.properties = properties

    def value(self):
        if not self.tokens:
            return True
        self.at = 0
        result = self.disjunction()
        if self.at != len(self.tokens):
            raise ValueError("trailing tokens in condition")
        return result

    def peek(self):
        return self.tokens[self.at] if self.at < len(self.tokens) else None

    def take(self):
        self.at += 1
        return self.tokens[self.at - 1]

    def disjunction(self):
        result = self.conjunction()
        while self.peek() == "OR":
            self.take()
            right = self.conjunction()
            result = result or right
        return result

    def conjunction(self):
        result = self.negation()
        while self.peek() == "AND":
            self.take()
            right = self.negation()
            result = result and right
        return result

    def negation(self):
        if self.peek() == "NOT":
            self.take()
            return not self.negation()
        return self.comparison()

    def comparison(self):
        if self.peek() == "(":
            self.take()
            result = self.disjunction()
            if self.take() != ")":
                raise ValueError("unbalanced parenthesis")
            return result
        left = self.operand()
        if self.peek() in ("=", "<>"):
            operator = self.take()
            right = self.operand()
            return (left == right) if operator == "=" else (left != right)
        return left != ""

    def operand(self):
        token = self.take()
        if token.startswith('"'):
            return token[1:-1]
        return self.properties.get(token, "")


# What Windows Installer sets for each kind of run of this package. A major
# upgrade is a first installation of a new product code, with the older
# product found by FindRelatedProducts.
SCENARIOS = {
    "install": {"VersionNT": "601"},
    "upgrade": {"VersionNT": "601", "WIX_UPGRADE_DETECTED": "{OLD}"},
    "repair": {"VersionNT": "601", "Installed": "00:00:00", "REINSTALL": "ALL"},
    "removal": {"VersionNT": "601", "Installed": "00:00:00", "REMOVE": "ALL"},
}


def run_of(scenario, **given):
    """The execute sequence of one scenario, with the public properties given
    on the command line: the switches queued in the installation script in
    order, and the rollback script as it would run after a failure at the end
    (backwards)."""
    actions = {row["Action"]: row for row in table("CustomAction")}
    steps = sorted(table("InstallExecuteSequence"), key=lambda row: int(row["Sequence"]))
    properties = dict(SCENARIOS[scenario], **given)
    script, rollback, sequence = [], [], {}
    for step in steps:
        if not Condition(step["Condition"], properties).value():
            continue
        sequence[step["Action"]] = int(step["Sequence"])
        action = actions.get(step["Action"])
        if action is None or not int(action["Type"]) & IN_SCRIPT:
            continue
        if int(action["Type"]) & ROLLBACK:
            rollback.insert(0, (step["Action"], action["Target"]))
        else:
            script.append((step["Action"], action["Target"]))
    return script, rollback, sequence


def switches(entries):
    return [target for _, target in entries]


def file_version(path):
    """The file version of a PE's version resource (VS_FIXEDFILEINFO)."""
    with open(path, "rb") as program:
        data = program.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


class CustomActions(unittest.TestCase):
    def test_switches_run_from_the_installed_file_in_the_script_as_local_system(self):
        rows = [row for row in table("CustomAction") if int(row["Type"]) & 0x3F != SET_PROPERTY]
        self.assertTrue(rows)
        for row in rows:
            kind = int(row["Type"])
            name = row["Action"]
            self.assertEqual("TolvaneExe", row["Source"], name)
            self.assertEqual(EXE_FROM_INSTALLED_FILE, kind & 0x3F, name)
            self.assertTrue(kind & IN_SCRIPT, name + ": deferred, never at script generation")
            self.assertTrue(kind & NO_IMPERSONATE, name + ": runs as LocalSystem")
            if name.startswith("Rollback"):
                # A rollback action runs only on a rollback; its failure
                # cannot stop anything any more.
                self.assertEqual(IN_SCRIPT | ROLLBACK | NO_IMPERSONATE | CONTINUE | 0x12, kind, name)
            else:
                self.assertFalse(kind & ROLLBACK, name)
                self.assertFalse(kind & CONTINUE, name + ": its failure fails the installation")

    def test_each_run_queues_its_switches_and_the_rollback_that_undoes_them(self):
        expected = {
            "install": (["-Service", "-AutoStart"], ["-UnregServer"]),
            "upgrade": (["-Service", "-AutoStart"], ["-UnregServer"]),
            "repair": (["-Service", "-AutoStart"], ["-Service", "-AutoStart"]),
            "removal": (["-UnregServer"], ["-Service", "-AutoStart"]),
        }
        for scenario, (script_switches, rollback_switches) in expected.items():
            script, rollback, _ = run_of(scenario)
            self.assertEqual(script_switches, switches(script), scenario)
            self.assertEqual(rollback_switches, switches(rollback), scenario)

    def test_rollbacks_come_before_what_they_undo_and_find_the_file(self):
        # The rollback script runs backwards: a rollback action runs after the
        # rollback of every later action. After InstallFiles it runs before the
        # new file is taken away again; before RemoveFiles, after the removed
        # file is put back.
        for scenario in SCENARIOS:
            script, rollback, sequence = run_of(scenario)
            first_change = min(sequence[name] for name, _ in script)
            for name, _ in rollback:
                self.assertLess(sequence[name], first_change, scenario + " " + name)
                if scenario in ("install", "upgrade"):
                    self.assertGreater(sequence[name], sequence["InstallFiles"], name)
                else:
                    self.assertLess(sequence[name], sequence["RemoveFiles"], name)
            for name, _ in script:
                if scenario == "removal":
                    self.assertLess(sequence[name], sequence["RemoveFiles"], name)
                else:
                    self.assertGreater(sequence[name], sequence["InstallFiles"], name)
        # The older product is gone, with its switches, before this one's script.
        _, _, sequence = run_of("upgrade")
        self.assertLess(sequence["InstallValidate"], sequence["RemoveExistingProducts"])
        self.assertLess(sequence["RemoveExistingProducts"], sequence["InstallInitialize"])


def setting_names():
    """The names config/setting_names.h gives the settings key and values."""
    with open(SETTING_NAMES, encoding="utf-8") as header:
        found = re.findall(r'(k\w+)\[\] = L"([^"]*)"', header.read())
    return {name: value.replace("\\\\", "\\") for name, value in found}


class InstallSettings(unittest.TestCase):
    WRITE = "-InstallSettings [StoreInstallSettings]"

    def test_given_properties_are_written_first_in_the_script_and_put_back_by_its_rollback(self):
        for scenario in ("install", "upgrade", "repair", "removal"):
            self.assertNotIn(self.WRITE, switches(run_of(scenario)[0]), scenario)
            for name in ("COMPORT", "ADMINONLY", "CHECKDELAY"):
                script, rollback, _ = run_of(scenario, **{name: "1"})
                restores = [t for t in switches(rollback) if t.startswith("-RestoreSettings")]
                if scenario == "removal":
                    self.assertEqual(([], []), ([t for t in switches(script) if t == self.WRITE],
                                                restores), name)
                else:
                    self.assertEqual(self.WRITE, switches(script)[0], scenario + " " + name)
                    self.assertEqual(1, len(restores), scenario + " " + name)

    def test_the_switches_get_each_property_and_what_the_key_held_under_the_services_names(self):
        actions = {row["Action"]: row for row in table("CustomAction")}
        # Immediate (no in-script bit), setting the property named after the
        # deferred action: its CustomActionData, which its command line names.
        setter = actions["SetStoreInstallSettings"]
        self.assertEqual((SET_PROPERTY, "StoreInstallSettings"), (int(setter["Type"]), setter["Source"]))
        self.assertEqual('"COMPORT=[COMPORT]" "ADMINONLY=[ADMINONLY]" "CHECKDELAY=[CHECKDELAY]"',
                         setter["Target"])
        self.assertEqual(self.WRITE, actions["StoreInstallSettings"]["Target"])
        _, _, sequence = run_of("install", COMPORT="COM5")
        for name in ("RollbackStoreInstallSettings", "StoreInstallSettings"):
            self.assertLess(max(sequence["SetStoreInstallSettings"], sequence["AppSearch"]),
                            sequence[name], name)

        # The rollback gets, under the service's value names, what AppSearch
        # read raw (0x2) from the 64-bit (0x10) settings key under HKLM (2).
        names = setting_names()
        restore = actions["RollbackStoreInstallSettings"]["Target"]
        tokens = dict(re.findall(r'"(\w+)=\[(\w+)\]"', restore))
        self.assertEqual({names[k] for k in ("kComPortValue", "kAdminOnlyValue", "kCheckDelayValue")},
                         set(tokens))
        searches = {row["Property"]: row["Signature_"] for row in table("AppSearch")}
        locators = {row["Signature_"]: row for row in table("RegLocator")}
        for value, prior in tokens.items():
            locator = locators[searches[prior]]
            self.assertEqual(("2", names["kSettingsKeyPath"], value, "18"),
                             (locator["Root"], locator["Key"], locator["Name"], locator["Type"]))

        secure = {row["Property"]: row["Value"] for row in table("Property")}
        self.assertLessEqual({"COMPORT", "ADMINONLY", "CHECKDELAY"},
                             set(secure["SecureCustomProperties"].split(";")))


class Services(unittest.TestCase):
    def test_the_package_stops_and_starts_the_service_and_leaves_deleting_it_to_tolvane(self):
        rows = table("ServiceControl")
        self.assertEqual(1, len(rows))
        event = int(rows[0]["Event"])
        self.assertEqual("Tolvane", rows[0]["Name"])
        self.assertEqual(START_INSTALL | STOP_INSTALL | STOP_UNINSTALL, event)
        self.assertFalse(event & (DELETE_INSTALL | DELETE_UNINSTALL))
        self.assertEqual("1", rows[0]["Wait"])
        for scenario in ("install", "repair"):
            _, _, sequence = run_of(scenario)
            self.assertLess(sequence["ConfigureBootStart"], sequence["StartServices"], scenario)
        _, _, sequence = run_of("removal")
        self.assertLess(sequence["StopServices"], sequence["UnregisterServer"])


class Upgrades(unittest.TestCase):
    def test_a_build_of_the_same_or_an_older_version_is_replaced_and_a_newer_one_refused(self):
        rows = {row["ActionProperty"]: row for row in table("Upgrade")}
        replaced = rows["WIX_UPGRADE_DETECTED"]
        self.assertEqual(VERSION, replaced["VersionMax"])
        self.assertTrue(int(replaced["Attributes"]) & VERSION_MAX_INCLUSIVE)
        self.assertFalse(int(replaced["Attributes"]) & ONLY_DETECT)
        self.assertEqual("", replaced["VersionMin"])
        newer = rows["WIX_DOWNGRADE_DETECTED"]
        self.assertEqual(VERSION, newer["VersionMin"])
        self.assertTrue(int(newer["Attributes"]) & ONLY_DETECT)
        self.assertFalse(int(newer["Attributes"]) & VERSION_MIN_INCLUSIVE)
        conditions = [row["Condition"] for row in table("LaunchCondition")]
        self.assertIn("NOT WIX_DOWNGRADE_DETECTED", conditions)
        secure = {row["Property"]: row["Value"] for row in table("Property")}
        self.assertIn("WIX_UPGRADE_DETECTED", secure["SecureCustomProperties"].split(";"))

    def test_the_product_version_is_the_programs_version(self):
        properties = {row["Property"]: row["Value"] for row in table("Property")}
        self.assertEqual(VERSION, properties["ProductVersion"])
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["msiextract", "-C", folder, MSI], check=True, capture_output=True)
            found = {}
            for root, _, files in os.walk(folder):
                for name in files:
                    found[name] = file_version(os.path.join(root, name))
        self.assertEqual(VERSION, found.get("Tolvane.exe"))
        self.assertEqual(VERSION, found.get("Alarm.exe"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
