#!/usr/bin/env bash
# Every module must export orrimGateway and nothing else.
set -euo pipefail
status=0
for module in "$@"; do
  exported=$(nm -D --defined-only "$module" | awk '{print $3}' | sort)
  if [ "$exported" != "orrimGateway" ]; then
    echo "$module exports: $exported"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$# modules export only orrimGateway"
exit $status
