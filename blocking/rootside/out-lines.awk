    function out(line) { printf "%s%s", sep, line; sep = "\n" }
    function done() { if (sep != "" && ENVIRON["NOEOL"] == "") printf "\n" }
