#!/usr/bin/env bash
# Prints variables of the OpenWrt recipe (packaging/openwrt/Makefile) as
# OpenWrt's make would see them, one a line (a multi-line define as its
# lines): the recipe is read by GNU make with stand-ins for the buildroot's
# rules.mk, package.mk and cmake.mk, which here only make the package's
# fields (SECTION, TITLE, DEPENDS, ...) visible.
# Usage: scripts/openwrt-recipe.sh VARIABLE...
set -euo pipefail
cd "$(dirname "$0")/.."
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
mkdir "$stub/include"
echo 'INCLUDE_DIR:=$(TOPDIR)/include' >"$stub/rules.mk"
cat >"$stub/include/package.mk" <<'MK'
define BuildPackage
$$(eval $$(Package/$(1)))
endef
MK
: >"$stub/include/cmake.mk"
make -s --no-print-directory -C packaging/openwrt -f Makefile TOPDIR="$stub" SHOW="$*" \
    --eval 'show: ; @: $(foreach v,$(SHOW),$(info $(strip $($(v)))))' show
