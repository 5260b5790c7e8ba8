#!/usr/bin/env bash
# Prints, from a saved CTest console output, each failed test's result line and what it printed,
# at most the last 80 lines of each: the summary at the end of a long run, where it is seen.
# Usage: failed-tests.sh CTEST_OUTPUT_FILE
set -euo pipefail
[ -f "$1" ] || exit 0
awk '
    function flush() { if (n > 0) { from = n > 80 ? n - 80 : 0; for (i = from; i < n; i++) print kept[i]; } n = 0 }
    /^ *([0-9]+\/[0-9]+ )?Test +#[0-9]+: .*(\*\*\*|Not Run)/ { flush(); print; inblock = 1; next }
    /^ *Start +[0-9]+: / || /^ *([0-9]+\/[0-9]+ )?Test +#/ || /tests passed, / { flush(); inblock = 0 }
    inblock { kept[n++] = $0 }
    END { flush() }
' "$1"
