# make run   installs what is missing, builds, opens the window on build/prog with build/storage
# make test  installs what is missing, builds, runs every test with ctest
# make bench builds and runs the benchmarks (never part of make test)
# make test-debian13  format-check, test, tidy and deb-lint in a Debian 13 root, and both
#            releases' packages tried in a fresh one (as root; CI runs it beside the rest)
# make test-asan  the same suite built with AddressSanitizer and UBSan (build-asan/)
# make install  installs under PREFIX (default /usr/local); DESTDIR stages it elsewhere
# make deb   builds the Debian package build-deb/callvane_<version>_<arch>.deb
# make deb-lint   and checks them with lintian --pedantic
# make deb-arm64  the arm64 packages for Debian 12 and 13, cross-built, each tried in an arm64 root
# make test-arm64  the Qt-free library's and the telephony tests on arm64 code under emulation
# make bench-arm64  the daemon's speed mechanisms on arm64 code under emulation beside this machine's
# make deb-check  installs it into a fresh Debian 13 root (RELEASE_SUITE) and tries it there
# make format  formats the code with .clang-format; make format-check fails where it differs
# make tidy  runs .clang-tidy's checks over the code of the build; any finding fails
# make stress  minutes of kills, concurrent calls, idle floods and full disks (never in make test)
# make fuzz  builds the fuzz targets with clang and runs each for FUZZ_SECONDS

BUILD    ?= build
JOBS     ?= 2
# The Debian packages the project needs: to build it, to run it (make run), and to test and
# package it as well (make test, CI).
BUILD_PACKAGES := cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libphonenumber-dev \
                  libbenchmark-dev librsvg2-bin libsystemd-dev libexpat1-dev libxcb1-dev
RUN_PACKAGES   := $(BUILD_PACKAGES) qt6-qpa-plugins fonts-dejavu-core busybox mawk procps util-linux \
                  coreutils tzdata mobile-broadband-provider-info xvfb x11vnc
PACKAGES       := $(RUN_PACKAGES) clang libclang-rt-dev dpkg-dev file clang-format clang-tidy systemd \
                  dbus-daemon python3-dbusmock modemmanager dunst dbus-bin weston qt6-wayland at-spi2-core \
                  appstream desktop-file-utils gtk-update-icon-cache lintian \
                  phosh phoc squeekboard gnome-settings-daemon-common xdotool \
                  evolution-data-server python3-gi gir1.2-ebook-1.2
# From Debian 13 on, ofono conflicts with ModemManager: the tests then run its ofonod from the
# package unpacked in $(OFONO_ROOT), with what it needs to run installed.
RELEASE  := $(shell . /etc/os-release 2>/dev/null && echo "$$VERSION_CODENAME")
ifeq ($(RELEASE),bookworm)
PACKAGES += ofono
else
OFONO_ROOT = $(CURDIR)/$(BUILD)/ofono-root
PACKAGES += confget libglib2.0-0t64 libdbus-1-3 libudev1
# Plasma Mobile, the other phone shell (from Debian 13 on); its keyboard needs qtwayland5.
PACKAGES += plasma-mobile kwin-wayland qtwayland5
endif
# What CI needs beside: roots of other releases and processors.
CI_PACKAGES := mmdebstrap arch-test
# With CROSS=arm64, make deb cross-builds the arm64 package (the phones' processor) with arm64's
# libraries beside this machine's (multiarch) and Qt's tools of this machine.
CROSS ?=
CROSS_PACKAGES := crossbuild-essential-$(CROSS) cmake make pkg-config qt6-base-dev-tools librsvg2-bin dpkg-dev file \
                  $(addsuffix :$(CROSS),qt6-base-dev qt6-svg-dev libphonenumber-dev libbenchmark-dev \
                  libsystemd-dev libexpat1-dev libxcb1-dev)

PREFIX   ?= /usr/local
# The build types and directories are CMakePresets.json's; CI makes warnings errors.
CMAKE_FLAGS ?= -DCMAKE_INSTALL_PREFIX=$(PREFIX)
WERROR := $(if $(CI),-DCALLVANE_WERROR=ON)

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

FUZZ_SECONDS ?= 60

.PHONY: all deps cross-deps run-deps configure build run test test-debian13 test-arm64 arm64-build arm64-test bench-arm64 deb-check deb-lint deb-arm64 test-asan bench stress fuzz screenshots install deb format format-check tidy clean

all: build

# Installs what is missing of $(1): as root, or through sudo; without either it says what to
# install and how.
define install-missing
@missing=$$(for p in $(1); do \
    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
if [ -n "$$missing" ]; then \
    if [ "$$(id -u)" != 0 ] && ! command -v sudo >/dev/null; then \
        echo "Missing Debian packages:" $$missing; \
        echo "Install them as root, then run make again: su -c 'apt-get install" $$missing"'"; \
        exit 1; \
    fi; \
    echo "Installing:" $$missing; \
    $(SUDO) apt-get update -qq && \
    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
fi
endef

deps:
	$(call install-missing,$(PACKAGES))

cross-deps:
	@dpkg --print-foreign-architectures | grep -qx $(CROSS) || { $(SUDO) dpkg --add-architecture $(CROSS) \
	    && $(SUDO) apt-get update -qq; }
	$(call install-missing,$(CROSS_PACKAGES))

run-deps:
	$(call install-missing,$(RUN_PACKAGES))

# make run needs only what running needs.
configure: $(if $(filter run,$(MAKECMDGOALS)),run-deps,deps)
	cmake --preset dev -B $(BUILD) $(CMAKE_FLAGS) $(WERROR)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@mkdir -p $(BUILD)/storage
	@if [ -z "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ] && [ -z "$${QT_QPA_PLATFORM:-}" ]; then \
	    echo "No display: serving the window over VNC."; \
	    CALLVANE_STORAGE=$(CURDIR)/$(BUILD)/storage/ scripts/run-over-vnc $(BUILD)/prog/callvane; \
	else \
	    CALLVANE_STORAGE=$(CURDIR)/$(BUILD)/storage/ $(BUILD)/prog/callvane; \
	fi

# A test that hangs past its timeout is run once more: the modem test's harness (ModemManager
# and the modem it drives, in one thread) has been seen to stall on a loaded machine.
CTEST := ctest --output-on-failure -j$(JOBS) --repeat after-timeout:2

test: build $(if $(OFONO_ROOT),$(OFONO_ROOT))
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen CALLVANE_OFONO_ROOT=$(OFONO_ROOT) $(CTEST)

# oFono's package, unpacked; its configuration folders are the mount points the tests lay
# their own over.
$(OFONO_ROOT):
	@[ -d /etc/ofono ] && [ -d /var/lib/ofono ] || $(SUDO) mkdir -p /etc/ofono /var/lib/ofono
	rm -rf $@ $@.deb && mkdir -p $@.deb
	cd $@.deb && apt-get download -q ofono$(if $(CROSS),:$(CROSS))
	dpkg-deb -x $@.deb/ofono_*.deb $@ && rm -rf $@.deb

# Debian 13 beside this machine's release (as root): in a Debian 13 root (made once and kept in
# /var/cache/callvane, see scripts/in-release-root) the code as its clang-format has it, the
# suite, its clang-tidy's checks and its package (build-debian13/, build-deb-debian13/); then
# that package and the one built here (make deb), each installed into a fresh Debian 13 root
# and tried there.
ARCH := $(shell dpkg --print-architecture)
IN_TRIXIE := scripts/in-release-root trixie $(ARCH)
test-debian13:
	$(call install-missing,$(CI_PACKAGES))
	$(IN_TRIXIE) make format-check test tidy deb-lint BUILD=build-debian13 DEB_BUILD=build-deb-debian13
	$(MAKE) deb-check DEB_BUILD=build-deb-debian13
	ls build-deb/callvane_*_$(ARCH).deb >/dev/null 2>&1 || $(MAKE) deb
	$(MAKE) deb-check

# The arm64 packages of both releases, each cross-built in an amd64 root of its release
# (build-deb-bookworm-arm64/, build-deb-trixie-arm64/), lintian-checked, then installed into a
# fresh arm64 root of its release and tried there under emulation.
deb-arm64:
	$(call install-missing,$(CI_PACKAGES))
	for suite in bookworm trixie; do \
	    scripts/in-release-root --kept cross-arm64 $$suite $(ARCH) \
	        make deb-lint CROSS=arm64 DEB_BUILD=build-deb-$$suite-arm64 && \
	    scripts/in-release-root --fresh $$suite arm64 tests/package-check build-deb-$$suite-arm64/callvane_*_arm64.deb \
	        || exit 1; \
	done

# arm64 code tested on this machine: cross-built in an amd64 root of Debian 13 (build-arm64/)
# and run there under emulation (qemu-user, scripts/arm64-emulator) with arm64's libraries,
# ModemManager, oFono and dbus-daemon installed beside (multiarch): the Qt-free library's tests
# and the daemon against the telephony services. Installing them natively takes 15 s, in an
# arm64 root under emulation 270 s. The window's own tests (e2e) cannot run there: an emulated
# process's argv[0] is the emulator, so the window's probe never sees a daemon.
ARM64_LABELS := control|modem
ARM64_TARGETS := tst_settingsstore tst_commands tst_calllog tst_callscreen tst_exemptions \
                 tst_modem simulated-modem blacklist callvane-ring
ARM64_RUN_PACKAGES := $(addsuffix :arm64,modemmanager dbus-daemon libqt6test6 libqt6dbus6 libqt6network6 \
                      qt6-qpa-plugins libglib2.0-0t64 libdbus-1-3 libudev1) \
                      busybox mawk procps util-linux mobile-broadband-provider-info python3-dbusmock confget
IN_ARM64_CROSS := scripts/in-release-root --kept cross-arm64 trixie $(ARCH)
test-arm64:
	$(call install-missing,$(CI_PACKAGES))
	scripts/arm64-emulator
	$(IN_ARM64_CROSS) make arm64-test CROSS=arm64 BUILD=build-arm64

arm64-build: cross-deps
	cmake --preset dev -B build-arm64 $(TOOLCHAIN) $(WERROR)
	cmake --build build-arm64 -j$(JOBS) --target $(ARM64_TARGETS)

arm64-test: arm64-build $(OFONO_ROOT)
	$(call install-missing,$(ARM64_RUN_PACKAGES))
	cd build-arm64 && QT_QPA_PLATFORM=offscreen CALLVANE_OFONO_ROOT=$(OFONO_ROOT) $(CTEST) -L '$(ARM64_LABELS)'

# The daemon's speed mechanisms (the key cache at a restart, the contacts) on arm64 code under
# emulation and on this machine's, in one run: compare their ratios, not their times (emulation
# is not a phone).
ARM64_BENCH := --benchmark_filter="BM_Startup/|BM_ContactsBesideNone/book:0"
bench-arm64: build
	$(call install-missing,$(CI_PACKAGES))
	cmake --build $(BUILD) -j$(JOBS) --target bench_daemon
	scripts/arm64-emulator
	$(IN_ARM64_CROSS) sh -c 'make arm64-build CROSS=arm64 ARM64_TARGETS=bench_daemon && build-arm64/bench/bench_daemon $(ARM64_BENCH)'
	$(BUILD)/bench/bench_daemon $(ARM64_BENCH)

# The package of DEB_BUILD installed with its dependencies into a fresh root of RELEASE_SUITE,
# and tried there (tests/package-check).
RELEASE_SUITE ?= trixie
deb-check:
	$(call install-missing,$(CI_PACKAGES))
	scripts/in-release-root --fresh $(RELEASE_SUITE) $(ARCH) tests/package-check $(DEB_BUILD)/callvane_*_$(ARCH).deb

# Sanitizer reports fail the test that caused them. CTEST_ARGS picks tests (e.g. -LE e2e).
CTEST_ARGS ?=
test-asan: deps $(if $(OFONO_ROOT),$(OFONO_ROOT))
	cmake --preset asan $(WERROR)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    CALLVANE_OFONO_ROOT=$(OFONO_ROOT) $(CTEST) $(CTEST_ARGS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

stress: build
	cmake --build $(BUILD) --target tst_stress -j$(JOBS)
	tests/in-pid-namespace $(BUILD)/tests/tst_stress

# Seeds: the fixtures (edge cases of both formats) and tests/fuzz/seeds-*; new finds go to
# build-fuzz/corpus-*.
fuzz: deps
	cmake --preset fuzz
	cmake --build build-fuzz -j$(JOBS)
	@for f in settings calllog callscreen; do \
	    seeds=tests/fixtures; [ $$f = callscreen ] && seeds=tests/fuzz/seeds-callscreen; \
	    mkdir -p build-fuzz/corpus-$$f && \
	    build-fuzz/tests/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        build-fuzz/corpus-$$f $$seeds || exit 1; \
	done

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# Only what the package holds is built, with Debian's hardening flags; the paths in it are
# /usr's.
HARDENING := DEB_BUILD_MAINT_OPTIONS=hardening=+all
DEB_BUILD ?= build-deb
ifneq ($(CROSS),)
HARDENING += DEB_HOST_ARCH=$(CROSS)
TOOLCHAIN := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/dist/$(CROSS)-toolchain.cmake
endif
deb: $(if $(CROSS),cross-deps,deps)
	CXXFLAGS="$$($(HARDENING) dpkg-buildflags --get CXXFLAGS) $$($(HARDENING) dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)" cmake --preset deb -B $(DEB_BUILD) --fresh $(WERROR) \
	$(TOOLCHAIN)
	cmake --build $(DEB_BUILD) -j$(JOBS) --target callvane blacklist callvane-ring program_data man_pages
	cd $(DEB_BUILD) && cpack -G DEB
	@# CPack lists the debug package's files by their build paths, and gives it no doc files.
	rm -rf $(DEB_BUILD)/ddeb && dpkg-deb -R $(DEB_BUILD)/callvane-dbgsym_*.ddeb $(DEB_BUILD)/ddeb
	cd $(DEB_BUILD)/ddeb && mkdir -p usr/share/doc && ln -s callvane usr/share/doc/callvane-dbgsym \
	  && find usr -type f -exec md5sum {} + > DEBIAN/md5sums
	dpkg-deb --root-owner-group -Zxz -b $(DEB_BUILD)/ddeb $(DEB_BUILD)/$$(basename $(DEB_BUILD)/callvane-dbgsym_*.ddeb) > /dev/null
	@ls $(DEB_BUILD)/callvane_*.deb $(DEB_BUILD)/callvane-dbgsym_*.ddeb

# The packages as a distribution would take them.
deb-lint: deb
	$(call install-missing,lintian)
	lintian --pedantic --fail-on error,warning $(DEB_BUILD)/callvane_*.deb $(DEB_BUILD)/callvane-dbgsym_*.ddeb

# Data tables in tests/ keep their columns between clang-format off and on.
# Found without git, which a release root may lack (there it listed none, and checked nothing).
FORMATTED = $(shell find app bench control daemon ezx firewall scripts settingsstore tests -name '*.cpp' -o -name '*.h')

format: deps
	clang-format -i $(FORMATTED)

format-check: deps
	@[ -n "$(FORMATTED)" ] || { echo "format-check: no source files found" >&2; exit 1; }
	@clang-format --dry-run -Werror $(FORMATTED) && echo "format-check: $(words $(FORMATTED)) files as .clang-format has them"

tidy: build
	run-clang-tidy -p $(BUILD) -quiet -j$(JOBS) -extra-arg=-Werror '$(CURDIR)/(app|control|daemon|ezx|firewall|settingsstore)/' \
	    > $(BUILD)/tidy.log 2>&1 || { grep -A3 'warning:\|error:' $(BUILD)/tidy.log; exit 1; }
	@echo "tidy: no findings in $$(grep -c -E '^(\[ *[0-9]+/[0-9]+\]\S* )?clang-tidy' $(BUILD)/tidy.log) files"

screenshots: build
	scripts/screenshots

clean:
	rm -rf $(BUILD) build-fuzz build-asan build-deb build-debian13 build-deb-* build-arm64
