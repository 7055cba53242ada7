# Mivra lockup applier — run as root by launchd (on conf change + every 15s).
