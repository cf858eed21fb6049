#!/usr/bin/env bash
# Checks that includes run one way through the library's layers:
#   app -> pipeline -> {analysis, text, stages, model} -> entropy -> container
# Same-layer includes are refused except the two named below; the front end
# sees only the public headers. Prints each offending include; exit 1 if any.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
rank() {
  case $1 in
    container) echo 0 ;; entropy) echo 1 ;;
    model | stages | text | analysis) echo 2 ;;
    pipeline) echo 3 ;; app) echo 4 ;; *) echo -1 ;;
  esac
}
allowed_sideways=" stages>model/history.h analysis>text/char_classes.h "
bad=0
for file in $(cd "$root/src" && find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort); do
  from=${file%%/*}
  while IFS= read -r target; do
    to=${target%%/*}
    [ "$to" = "$target" ] && continue  # same-folder include without a folder
    [ "$to" = velt ] && continue       # the public interface
    [ "$from" = "$to" ] && continue
    if [ "$from" = app ]; then
      echo "$file: includes $target (the front end uses only the public headers)"
      bad=1
      continue
    fi
    if [ "$(rank "$to")" -lt 0 ] || [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
      case $allowed_sideways in *" $from>$target "*) continue ;; esac
      echo "$file: includes $target ($from may not depend on $to)"
      bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$root/src/$file")
done
[ $bad = 0 ] && echo "layers: every include runs downwards"
exit $bad
