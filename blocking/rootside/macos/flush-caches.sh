        dscacheutil -flushcache >/dev/null 2>&1
        killall -HUP mDNSResponder >/dev/null 2>&1
