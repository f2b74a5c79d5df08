#!/usr/bin/env bash
# Times the Word and Excel modes of `quorvane-batch merge-files` on made documents, side by
# side with what else could merge them on this machine, and prints paired ratios and peak
# memory. Run by hand after a build:
#   bench/bench_office.sh [build folder] [work folder]
#   REPEAT=3 bench/bench_office.sh       # more pairs (each LibreOffice run takes a minute)
# The sources (200 documents of a few pages with a table, two lists and an image; 100
# workbooks of 2 sheets x 5,000 rows with a few styles and a merged range) are made with
# python3-docx and python3-openpyxl in a temporary folder and removed at the end.
#   - against LibreOffice: one `soffice --headless --convert-to odt` (ods for the workbooks)
#     of all the sources in one call. It only reads and writes each file, so it is a floor for
#     any merge that drives an office suite.
#   - against python3-docxcompose: a script that joins the same documents (Word only).
set -euo pipefail
here=$(dirname "$(realpath "$0")")

build=$(realpath "${1:-$(dirname "$0")/../build}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-1}
batch=$build/quorvane-batch
[ -x "$batch" ] || { echo "build first: no $batch" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
command -v soffice >/dev/null || { echo "needs soffice: apt-get install libreoffice-writer-nogui libreoffice-calc-nogui" >&2; exit 1; }
/usr/bin/python3 -c 'import docx, openpyxl, docxcompose' 2>/dev/null ||
  { echo "needs python3-docx python3-openpyxl python3-docxcompose" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-office-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making documents and workbooks in $work ..."
documents=${DOCUMENTS:-200} workbooks=${WORKBOOKS:-100}
/usr/bin/python3 "$here/make_office_samples.py" "$work" "$documents" "$workbooks"
du -sh word excel | sed 's/^/  /'
largest() { ls -S "$1" | head -1 | xargs -I{} stat -c %s "$1/{}"; }
echo "  largest document $(($(largest word) / 1024)) KB, largest workbook $(($(largest excel) / 1024)) KB"

cat > compose.py <<'PY'
import sys
from docx import Document
from docxcompose.composer import Composer
first, *rest = sys.argv[2:]
composer = Composer(Document(first))
for name in rest:
    composer.append(Document(name))
composer.save(sys.argv[1])
PY
profile="-env:UserInstallation=file://$work/lo-profile"
before_run() { rm -rf lo-out out.docx out.xlsx compose.docx; }
source "$here/pairs.sh"

echo
echo "$REPEAT pair(s) each after a warm-up (3 against docxcompose); ratio = median of the"
echo "pairs' quorvane / other: 0.10 is ten times faster."
pair "word, $documents documents vs soffice to odt" \
  "'$batch' merge-files word out.docx --pattern '*.docx' --mode word --yes --quiet" \
  "soffice --headless --norestore '$profile' --convert-to odt --outdir lo-out word/*.docx"
REPEAT=$((REPEAT < 3 ? 3 : REPEAT)) pair "word, $documents documents vs docxcompose" \
  "'$batch' merge-files word out.docx --pattern '*.docx' --mode word --yes --quiet" \
  "/usr/bin/python3 compose.py compose.docx word/*.docx"
pair "excel, $workbooks workbooks vs soffice to ods" \
  "'$batch' merge-files excel out.xlsx --pattern '*.xlsx' --mode excel --yes --quiet" \
  "soffice --headless --norestore '$profile' --convert-to ods --outdir lo-out excel/*.xlsx"

# The results must hold what the sources hold.
"$batch" merge-files word out.docx --mode word --yes --quiet
"$batch" merge-files excel out.xlsx --mode excel --yes --quiet
/usr/bin/python3 - <<'PY'
import glob
from docx import Document
from openpyxl import load_workbook
sources = sorted(glob.glob("word/*.docx"))
expected = sum(len(Document(f).paragraphs) for f in sources)
joined = len(Document("out.docx").paragraphs)
print(f"check: word result has {joined} paragraphs, sources {expected}")
names = load_workbook("out.xlsx", read_only=True).sheetnames
print(f"check: excel result has {len(names)} sheets ({names[0]}, {names[1]}, {names[2]} ... {names[-1]})")
PY
