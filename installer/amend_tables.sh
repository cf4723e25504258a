#!/usr/bin/env bash
# amend_tables.sh MSI: writes into a package built by wixl 0.101 what wixl
# cannot (msitools' msiinfo reads the tables, msibuild changes them):
# - every custom action whose name begins with "Rollback" gets
#   msidbCustomActionTypeInScript (0x400) and msidbCustomActionTypeRollback
#   (0x100): wixl writes Execute="rollback" as an immediate action;
# - the major upgrade's Upgrade row (WIX_UPGRADE_DETECTED) gets
#   msidbUpgradeAttributesVersionMaxInclusive (0x200), so another build of
#   the same version replaces the installed one. Attributes is part of the
#   row's key, which an UPDATE cannot change: the row is written anew;
# - every public property that a set-property action (type 51) takes from
#   the command line joins SecureCustomProperties, so a managed installation
#   hands it to the installation script too (wixl has no Secure attribute).
set -eu
msi=${1:?names the package}

# Rows of a table as msiinfo exports them (tab-separated, empty fields kept),
# without the three header lines.
rows() {
    msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4
}

mapfile -t queries < <(
    # Bits are set by arithmetic: mawk has no bitwise functions.
    rows CustomAction | awk -F'\t' '
        function set(v, bit) { return int(v / bit) % 2 ? v : v + bit }
        $1 ~ /^Rollback/ {
            printf "UPDATE CustomAction SET Type=%d WHERE Action='\''%s'\''\n", set(set($2, 1024), 256), $1
        }'
    # Only the columns that have a value: msibuild takes no NULL.
    rows Upgrade | awk -F'\t' '
        function set(v, bit) { return int(v / bit) % 2 ? v : v + bit }
        BEGIN { split("UpgradeCode VersionMin VersionMax Language Attributes Remove ActionProperty", column, " ") }
        $7 == "WIX_UPGRADE_DETECTED" {
            $5 = set($5, 512)
            names = ""; values = ""
            for (i = 1; i <= 7; i++) {
                if ($i == "") continue
                names = names (names == "" ? "" : ", ") column[i]
                values = values (values == "" ? "" : ", ") (i == 5 ? $i : "'\''" $i "'\''")
            }
            printf "DELETE FROM Upgrade WHERE ActionProperty='\''%s'\''\n", $7
            printf "INSERT INTO Upgrade (%s) VALUES (%s)\n", names, values
        }'
    # Public properties are the all-capital names in brackets.
    { rows Property; rows CustomAction; } | awk -F'\t' '
        NF == 2 && $1 == "SecureCustomProperties" { secure = $2 }
        NF > 2 && $2 % 64 == 51 {
            target = $4
            while (match(target, /\[[A-Z][A-Z0-9_]*\]/)) {
                names[substr(target, RSTART + 1, RLENGTH - 2)] = 1
                target = substr(target, RSTART + RLENGTH)
            }
        }
        END {
            added = secure
            for (name in names) {
                if ((";" secure ";") !~ (";" name ";")) {
                    added = added (added == "" ? "" : ";") name
                }
            }
            if (added != secure) {
                printf "UPDATE Property SET Value='\''%s'\'' WHERE Property='\''SecureCustomProperties'\''\n", added
            }
        }'
)
if ! printf '%s\n' "${queries[@]}" | grep -q '^INSERT INTO Upgrade'; then
    echo "amend_tables.sh: $msi has no major-upgrade row" >&2
    exit 1
fi

args=()
for query in "${queries[@]}"; do
    args+=(-q "$query")
done
msibuild "$msi" "${args[@]}"
