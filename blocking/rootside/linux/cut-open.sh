            [ -z "$addrs" ] || cut_connections
