#!/usr/bin/env bash
# Checks that the plug-in exports exactly its public classes and functions:
# every dynamic symbol it defines belongs to a name in the list, and every
# name in the list is exported. With IMPORTS_FILE, also that the plug-in
# calls the host for each operation listed there instead of compiling its
# own copy: each must be an undefined dynamic symbol.
# Usage: check_exports.sh LIBRARY NAMES_FILE [IMPORTS_FILE]
set -euo pipefail
library=$1
names=$2
imports=${3:-}

symbols=$(nm -DC --defined-only "$library" | cut -d' ' -f3-)
status=0
while IFS= read -r symbol; do
  owner=${symbol#typeinfo name for }
  owner=${owner#typeinfo for }
  owner=${owner#vtable for }
  owner=${owner%%(*}
  owner=${owner%%::*}
  owner=${owner%%\[abi:cxx11\]}
  owner=${owner##* }
  # Instantiations of standard-library templates are not ours to hide.
  [[ $owner == std ]] && continue
  if ! grep -qx -- "$owner" "$names"; then
    echo "unexpected export: $symbol"
    status=1
  fi
done <<< "$symbols"
while IFS= read -r name; do
  if ! grep -q -E "(^|[ :])${name}(::|\(|\[|$)" <<< "$symbols"; then
    echo "missing export: $name"
    status=1
  fi
done < "$names"
if [ -n "$imports" ]; then
  undefined=$(nm -DC --undefined-only "$library" | sed 's/^ *U //')
  while IFS= read -r operation; do
    if ! grep -q -F -- "$operation(" <<< "$undefined"; then
      echo "not imported from the host: $operation"
      status=1
    fi
  done < "$imports"
fi
exit $status
