if command -v flock >/dev/null; then flock -w 50 9 || exit 0; fi
