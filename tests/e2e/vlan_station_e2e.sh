#!/usr/bin/env bash
# The VLAN bays test of vlan_e2e.sh with one station serving a bay per VLAN (a bays file over
# the trunk, Tarvik tagging its frames): the devices share one address, and each is flashed
# exactly once under its bay, its frames kept to its VLAN.
VLAN_E2E_STATION=1
source "$(dirname "${BASH_SOURCE[0]}")/vlan_e2e.sh"
