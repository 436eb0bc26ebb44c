#!/usr/bin/env bash
# Fails when libkvd.so exports anything beyond its public interface:
# GetMuteEnd, the kvd_ streaming functions, the CDetectVoice class and the logging facade.
set -euo pipefail
library=${1:?usage: check-exports.sh path/to/libkvd.so}
allowed='^(GetMuteEnd|kvd_(version|strerror|event_name|stream_open|stream_open_text|stream_feed|stream_state|stream_reset|stream_free|segments)|CDetectVoice::.*|KES_[A-Za-z_]+\(.*|tprintf[1-7]\(.*|LevelEnabled\(.*|GetLocalTimeStamp\(.*|TEXIT\(.*)$'
exported=$(nm -DC --defined-only "$library" | awk '$2 ~ /^[TDBRVWiu]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }')
echo "$exported"
unexpected=$(echo "$exported" | grep -Ev "$allowed" || true)
if [ -n "$unexpected" ]; then
  echo "unexpected exports:" >&2
  echo "$unexpected" >&2
  exit 1
fi
