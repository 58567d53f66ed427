#!/usr/bin/env bash
# The VLAN bays test of vlan_e2e.sh, the station speaking through the system's own VLAN
# interfaces (tva0.VID, tagged by the kernel) instead of tagging its frames itself. Skips, saying
# so, where the kernel has no 802.1Q.
VLAN_E2E_KERNEL=1
source "$(dirname "${BASH_SOURCE[0]}")/vlan_e2e.sh"
