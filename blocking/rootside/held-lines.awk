    / #mivra-part$/ { next }
    substr($0, 1, 12) == "#mivra-held " { $0 = substr($0, 13) }
    active && substr($1, 1, 1) != "#" {
        data = $0
        if ((at = index(data, "#")) > 0) data = substr(data, 1, at - 1)
        m = split(data, f)
        hit = 0; keep = ""
        for (i = 2; i <= m; i++) if (tolower(f[i]) in blocked) hit = 1; else keep = keep " " f[i]
        if (hit) {
            out("#mivra-held " $0)
            if (keep != "") out(f[1] keep " #mivra-part")
            next
        }
    }
