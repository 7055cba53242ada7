#!/bin/bash
# Hands the Mivra lockup file to the user who authorised; run as root through pkexec.
set -e
PRIV=
@TRAP@
STATE=@STATE@
@CLAIM@
exit 0
