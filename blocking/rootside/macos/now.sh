now=$(date +%s)
