# Mivra lockup applier — run as root by systemd (on lockup change + every 15s).
STATE=@STATE@
