#!/usr/bin/env bash
# Checks that the plug-in exports exactly its public classes and functions:
# every dynamic symbol it defines belongs to a name in the list, and every
# name in the list is exported.
# Usage: check_exports.sh LIBRARY NAMES_FILE
set -euo pipefail
library=$1
names=$2

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
exit $status
