systemctl --no-block stop @blockpage.service@ >/dev/null 2>&1
