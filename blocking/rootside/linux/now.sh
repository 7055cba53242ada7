printf -v now '%(%s)T' -1
