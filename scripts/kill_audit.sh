#!/usr/bin/env bash
# Kills Varnel's writing programs at random moments and checks what they leave.
#
#   scripts/kill_audit.sh [KILLS_PER_PROGRAM] [BIN_DIR]
#
# On a small simulated study, varnel-align, varnel-merge, varnel-import,
# varnel-export and varnel-report each replace their previous output KILLS
# times (default 20), alternating between two inputs so that the earlier and
# the new output differ. Each run gets SIGKILL or SIGTERM (at random) after a
# random delay of up to 1.3 times its undisturbed run time. After each kill:
#   - the exit status is the signal's (or 0: it finished first);
#   - after the next touch (the program that reads the output, which
#     completes an interrupted replacement first), the output is the earlier
#     one intact or the new one whole, never a mix or a cut;
#   - the next run succeeds, gives the new output, and no temporary file,
#     record or lock is left in the output's folder or beside it.
# Then a list of bad inputs is run; each must fail with exit status 1 or 2
# and a message naming the file (or, for a foreign commit record, be
# reported with nothing renamed).
# Prints the counts; exits 1 when any check failed. Takes a few minutes.
set -uo pipefail
cd "$(dirname "$0")/.."
kills=${1:-20}
bin=${2:-build/release/app}
for p in varnel-align varnel-merge varnel-import varnel-export varnel-report varnel-simulate; do
  [ -x "$bin/$p" ] || {
    echo "kill_audit.sh: $bin/$p is missing; build first" >&2
    exit 2
  }
done
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-kill-audit.XXXXXX")
trap 'rm -rf "$work"' EXIT
RANDOM=${VARNEL_AUDIT_SEED:-4242}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- two small studies (0 and 1) and everything made from them -------------
for s in 0 1; do
  "$bin/varnel-simulate" --quiet --samples 6 --compounds 1500 --seed $((s + 11)) "$work/study$s" >/dev/null
  dbs[$s]=$(ls "$work"/study$s/*.db | tr '\n' ' ')
  # An import table: samples s0..s5, rows differing between the two studies.
  {
    echo "sample,mz,rt,height"
    for i in $(seq 0 5); do
      for j in $(seq 1 $((300 + s * 40))); do echo "s$i,$((100 + j)).$((i + s)),$((j % 1200 + 30)),$((j * 10 + 1))"; done
    done
  } >"$work/table$s.csv"
  # A plan in 3 shards.
  plan=$work/plan$s
  # shellcheck disable=SC2086
  "$bin/varnel-align" --scan "$work/scan$s" ${dbs[$s]} >/dev/null &&
    "$bin/varnel-align" --plan "$plan" --shards 3 "$work/scan$s" >/dev/null &&
    "$bin/varnel-align" --plan "$plan" --split ${dbs[$s]} >/dev/null || {
    echo "kill_audit.sh: cannot make the plan of study $s" >&2
    exit 2
  }
  for k in 0 1 2; do "$bin/varnel-align" --plan "$plan" --shard $k >/dev/null 2>&1 || true; done
  # References.
  # shellcheck disable=SC2086
  "$bin/varnel-align" --quiet --result-dir "$work/ref$s" ${dbs[$s]} >/dev/null || exit 2
  "$bin/varnel-export" "$work/ref$s/aligned_annotated_grouped_chromatograph_peaklist.aligndb" \
    --format table -o "$work/ref$s.table.csv" >/dev/null || exit 2
  "$bin/varnel-report" "$work/ref$s/aligned_annotated_grouped_chromatograph_peaklist.aligndb" \
    "$work/refreport$s" >/dev/null 2>&1 || exit 2
  "$bin/varnel-import" --format table "$work/table$s.csv" -o "$work/refimport$s" >/dev/null || exit 2
done
csv=aligned_annotated_grouped_chromatograph_peaklist.csv
db=aligned_annotated_grouped_chromatograph_peaklist.aligndb

sum() { sha256sum "$1" 2>/dev/null | cut -d' ' -f1; }
folder_sums() { (cd "$1" 2>/dev/null && sha256sum -- *_peaklist.db 2>/dev/null); }

# --- what each program does, and which output it left ----------------------
# run PROGRAM STUDY: the command line; which PROGRAM: 0, 1, or "?" (neither).
out_of() { echo "$work/out-$1"; }
command_of() {
  local prog=$1 s=$2 out
  out=$(out_of "$prog")
  case $prog in
  align) echo "$bin/varnel-align --quiet --result-dir $out/R ${dbs[$s]}" ;;
  merge) echo "$bin/varnel-merge $work/plan$s --result-dir $out/R" ;;
  import) echo "$bin/varnel-import --format table $work/table$s.csv -o $out/I" ;;
  export) echo "$bin/varnel-export $work/ref$s/$db --format table -o $out/table.csv" ;;
  report) echo "$bin/varnel-report $work/ref$s/$db $out/P" ;;
  esac
}
# The output after the next touch: 0 or 1 (whole output of that study),
# none (no output yet), or "?" (mixed, cut or unreadable).
which_output() {
  local prog=$1 out
  out=$(out_of "$prog")
  case $prog in
  align | merge)
    [ -e "$out/R/$csv" ] || [ -e "$out/R/$db" ] || [ -e "$out/R/.varnel-pair-commit" ] || {
      echo none
      return
    }
    # The export completes an interrupted replacement first.
    "$bin/varnel-export" "$out/R/$db" --format table -o "$out/check.csv" >/dev/null 2>&1 || {
      echo "?"
      return
    }
    local t c
    t=$(sum "$out/check.csv")
    c=$(sum "$out/R/$csv")
    for s in 0 1; do
      if [ "$t" = "$(sum "$work/ref$s.table.csv")" ] && [ "$c" = "$(sum "$work/ref$s/$csv")" ]; then
        echo $s
        return
      fi
    done
    echo "?"
    ;;
  import)
    [ -d "$out/I" ] || {
      echo none
      return
    }
    # --finish completes an interrupted import first; the readers refuse
    # the folder until then.
    "$bin/varnel-import" --finish -o "$out/I" >/dev/null 2>&1 || {
      echo "?"
      return
    }
    local got
    got=$(folder_sums "$out/I")
    for s in 0 1; do
      [ "$got" = "$(folder_sums "$work/refimport$s")" ] && {
        echo $s
        return
      }
    done
    echo "?"
    ;;
  export)
    [ -e "$out/table.csv" ] || {
      echo none
      return
    }
    for s in 0 1; do
      [ "$(sum "$out/table.csv")" = "$(sum "$work/ref$s.table.csv")" ] && {
        echo $s
        return
      }
    done
    echo "?"
    ;;
  report)
    [ -e "$out/P" ] || {
      echo none
      return
    }
    for s in 0 1; do
      diff -rq "$out/P" "$work/refreport$s" >/dev/null 2>&1 && {
        echo $s
        return
      }
    done
    echo "?"
    ;;
  esac
}
# Temporary files, records and locks in the program's folder (its output
# and beside it).
leftovers() {
  find "$(out_of "$1")" "$work"/plan0 "$work"/plan1 -maxdepth 3 \( -name '.varnel-part-*' -o \
    -name '.varnel-lock' -o -name '.varnel-pair-commit' -o -name '.varnel-import-commit' -o \
    -name '*.old' -o -name '.*.tmp-*' -o -name '.*.old-*' \) 2>/dev/null
}

declare -A n_kills n_term n_kill n_old n_new n_done
total=0
for prog in align merge import export report; do
  out=$(out_of $prog)
  mkdir -p "$out"
  # The first output, and how long an undisturbed run takes.
  start=$(date +%s%N)
  $(command_of $prog 1) >/dev/null 2>&1 || fail "$prog: the first run failed"
  ms=$((($(date +%s%N) - start) / 1000000))
  max_ms=$((ms * 13 / 10 + 20))
  previous=1
  n_kills[$prog]=0 n_term[$prog]=0 n_kill[$prog]=0 n_old[$prog]=0 n_new[$prog]=0 n_done[$prog]=0
  for i in $(seq 1 "$kills"); do
    s=$((1 - previous))
    signal=KILL
    [ $((RANDOM % 2)) -eq 0 ] && signal=TERM
    delay_ms=$((RANDOM % max_ms))
    $(command_of $prog $s) >"$work/log" 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -$signal $pid 2>/dev/null
    wait $pid 2>/dev/null
    rc=$?
    total=$((total + 1))
    n_kills[$prog]=$((n_kills[$prog] + 1))
    if [ $signal = TERM ]; then
      n_term[$prog]=$((n_term[$prog] + 1))
      expected=143
    else
      n_kill[$prog]=$((n_kill[$prog] + 1))
      expected=137
    fi
    [ $rc -eq 0 ] || [ $rc -eq $expected ] ||
      fail "$prog #$i: SIG$signal after ${delay_ms} ms: exit $rc ($(head -c 300 "$work/log"))"
    got=$(which_output $prog)
    if [ "$got" = "$s" ]; then
      if [ $rc -eq 0 ]; then n_done[$prog]=$((n_done[$prog] + 1)); else n_new[$prog]=$((n_new[$prog] + 1)); fi
    elif [ "$got" = "$previous" ]; then
      n_old[$prog]=$((n_old[$prog] + 1))
    else
      fail "$prog #$i: SIG$signal after ${delay_ms} ms: output is '$got', neither the earlier ($previous) nor the new ($s)"
    fi
    # The next run succeeds and tidies up.
    $(command_of $prog $s) >"$work/log" 2>&1 || fail "$prog #$i: the next run failed: $(head -c 300 "$work/log")"
    [ "$(which_output $prog)" = "$s" ] || fail "$prog #$i: the next run's output is not whole"
    left=$(leftovers $prog)
    [ -z "$left" ] || fail "$prog #$i: left after the next run: $left"
    previous=$s
  done
  printf '%-7s %3d kills (%d SIGKILL, %d SIGTERM): earlier kept %d, new whole %d, finished first %d; run %d ms\n' \
    $prog "${n_kills[$prog]}" "${n_kill[$prog]}" "${n_term[$prog]}" "${n_old[$prog]}" "${n_new[$prog]}" \
    "${n_done[$prog]}" "$ms"
done
echo "kills: $total"

# --- bad inputs --------------------------------------------------------------
bad=$work/bad
mkdir -p "$bad"
n_bad=0
# refuse NAME EXPECTED_TEXT COMMAND...: exit 1 or 2, stderr names EXPECTED_TEXT.
refuse() {
  local name=$1 expect=$2
  shift 2
  "$@" >"$bad/out" 2>"$bad/err"
  local rc=$?
  n_bad=$((n_bad + 1))
  if [ $rc -ne 1 ] && [ $rc -ne 2 ]; then
    fail "bad input '$name': exit $rc ($(head -c 300 "$bad/err"))"
  elif ! grep -qF -- "$expect" "$bad/err"; then
    fail "bad input '$name': message does not name '$expect': $(head -c 300 "$bad/err")"
  fi
}
d0=$(echo "${dbs[0]}" | cut -d' ' -f1)
d1=$(echo "${dbs[0]}" | cut -d' ' -f2)
t() { printf '%b' "$2" >"$bad/$1"; echo "$bad/$1"; }
imp() { "$bin/varnel-import" --format table "$@" -o "$bad/imported"; }
f=$(t ok.csv 'mz,rt,height\n181.07,300,100000\n304.15,600,50000\n')
refuse "same table twice" "$f" imp "$f" "$f"
f=$(t collide.csv 'sample,mz,rt,height\na/b,100,5,1\na_b,101,6,1\n')
refuse "names that collide" "a_b" imp "$f"
f=$(t extra.csv 'mz,rt,height\n181.0707,300,100000\n304.1543,600,50000,7\n')
refuse "one extra field" "$f" imp "$f"
for v in "0,300,1" "-5,300,1" "1e308,300,1" "100,1e300,1" "100,300,-4"; do
  f=$(t "value.csv" "mz,rt,height\n$v\n")
  refuse "implausible $v" "$f" imp "$f"
done
f=$(t minutes.csv 'mz,rt,height\n100,20000,1\n')
refuse "--rt-unit min on seconds" "$f" imp --rt-unit min "$f"
f=$(t dup.csv 'mz,rt,mz,height\n100,5,100,1\n')
refuse "duplicated column" "$f" imp "$f"
f=$(t nolist.featureXML '<?xml version="1.0"?>\n<featureMap></featureMap>\n')
refuse "featureXML without featureList" "$f" "$bin/varnel-import" --format featurexml "$f" -o "$bad/imported"
f=$(t utf16.csv '\xff\xfem\x00z\x00,\x00r\x00t\x00\n\x00')
refuse "UTF-16 table" "$f" imp "$f"
refuse "same input twice" "$d0" "$bin/varnel-align" --quiet --result-dir "$bad/R" "$d0" "./$d0" "$d1"
f=$(t notadb.db 'this is not a database at all\n')
refuse "not a database" "$f" "$bin/varnel-align" --quiet --result-dir "$bad/R" "$f" "$d1"
refuse "peak list opened as a result" "$d0" "$bin/varnel-export" "$d0" --format table -o "$bad/t.csv"
# A shard's rows with one bit flipped.
cp -r "$work/plan0" "$bad/plan"
rows=$bad/plan/shard-1/rows
size=$(stat -c %s "$rows")
for k in 1 2 3 4 5; do
  cp "$work/plan0/shard-1/rows" "$rows"
  off=$((RANDOM * 32768 % size + RANDOM % size))
  off=$((off % size))
  byte=$(od -An -tu1 -j $off -N1 "$rows" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ (1 << (RANDOM % 8)))))" |
    dd of="$rows" bs=1 seek=$off conv=notrunc status=none
  refuse "shard rows bit flip at $off" "shard-1" "$bin/varnel-merge" "$bad/plan" --result-dir "$bad/M"
done
# A second run into a folder in use.
mkdir -p "$bad/busy"
# shellcheck disable=SC2086
VARNEL_TEST_PAUSE_BETWEEN_RENAMES=3000 "$bin/varnel-align" --quiet --result-dir "$bad/busy" ${dbs[0]} >/dev/null 2>&1 &
busy=$!
for _ in $(seq 1 100); do [ -e "$bad/busy/.varnel-lock" ] && break; sleep 0.05; done
# shellcheck disable=SC2086
refuse "second writer" "in use by process $busy" "$bin/varnel-align" --quiet --result-dir "$bad/busy" ${dbs[0]}
wait $busy
# Foreign commit records: reported on every open, nothing renamed.
for target in notes.txt $csv; do
  cp -r "$work/ref0" "$bad/pair"
  echo x >"$bad/pair/.varnel-part-999999-abcdef"
  printf 'varnel result pair 2\n.varnel-part-999999-abcdef\t%s\t1:2\nend\n' "$target" >"$bad/pair/.varnel-pair-commit"
  "$bin/varnel-export" "$bad/pair/$db" --format table -o "$bad/t.csv" >/dev/null 2>"$bad/err"
  n_bad=$((n_bad + 1))
  grep -qF ".varnel-pair-commit" "$bad/err" || fail "record naming $target: not reported ($(head -c 300 "$bad/err"))"
  [ "$(sum "$bad/pair/$csv")" = "$(sum "$work/ref0/$csv")" ] && [ -e "$bad/pair/.varnel-part-999999-abcdef" ] ||
    fail "record naming $target: carried out"
  rm -rf "$bad/pair"
done
# The import's own record, hand-made: the readers refuse the folder.
cp -r "$work/refimport0" "$bad/study"
printf 'varnel import 1\n.varnel-part-999999-abcdef\tnotes.txt\t1:2\nend\n' >"$bad/study/.varnel-import-commit"
refuse "import record naming notes.txt (reader)" ".varnel-import-commit" \
  "$bin/varnel-align" --quiet --result-dir "$bad/R2" "$bad"/study/*.db
refuse "import record naming notes.txt (import)" ".varnel-import-commit" \
  "$bin/varnel-import" --format table "$work/table0.csv" -o "$bad/study"
echo "bad inputs: $n_bad"
[ -z "$(find "$bad" -name '.varnel-part-*' ! -name '.varnel-part-999999-abcdef')" ] ||
  fail "bad inputs left temporary files: $(find "$bad" -name '.varnel-part-*')"

echo "failures: $failures"
[ $failures -eq 0 ]
