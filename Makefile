# make run   installs what is missing, builds, opens the window on build/prog with build/storage
# make test  installs what is missing, builds, runs every test with ctest
# make bench builds and runs the benchmarks (never part of make test)
# make test-asan  the same suite built with AddressSanitizer and UBSan (build-asan/)
# make install  installs under PREFIX (default /usr/local); DESTDIR stages it elsewhere
# make deb   builds the Debian package build-deb/callvane_<version>_<arch>.deb
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
RUN_PACKAGES   := $(BUILD_PACKAGES) qt6-qpa-plugins fonts-dejavu-core busybox procps findutils util-linux \
                  coreutils tzdata mobile-broadband-provider-info xvfb x11vnc
PACKAGES       := $(RUN_PACKAGES) clang libclang-rt-14-dev dpkg-dev file clang-format clang-tidy systemd \
                  dbus-daemon python3-dbusmock modemmanager ofono dunst dbus-bin weston qt6-wayland at-spi2-core \
                  appstream desktop-file-utils gtk-update-icon-cache lintian \
                  phosh phoc squeekboard gnome-settings-daemon-common xdotool \
                  evolution-data-server python3-gi gir1.2-ebook-1.2

PREFIX   ?= /usr/local
# The build types and directories are CMakePresets.json's; CI makes warnings errors.
CMAKE_FLAGS ?= -DCMAKE_INSTALL_PREFIX=$(PREFIX)
WERROR := $(if $(CI),-DCALLVANE_WERROR=ON)

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

FUZZ_SECONDS ?= 60

.PHONY: all deps run-deps configure build run test test-asan bench stress fuzz screenshots install deb format format-check tidy clean

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

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen $(CTEST)

# Sanitizer reports fail the test that caused them. CTEST_ARGS picks tests (e.g. -LE e2e).
CTEST_ARGS ?=
test-asan: deps
	cmake --preset asan $(WERROR)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    $(CTEST) $(CTEST_ARGS)

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
deb: deps
	CXXFLAGS="$$($(HARDENING) dpkg-buildflags --get CXXFLAGS) $$($(HARDENING) dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)" cmake --preset deb --fresh $(WERROR)
	cmake --build build-deb -j$(JOBS) --target callvane blacklist callvane-ring program_data man_pages
	cd build-deb && cpack -G DEB
	@# CPack lists the debug package's files by their build paths, and gives it no doc files.
	rm -rf build-deb/ddeb && dpkg-deb -R build-deb/callvane-dbgsym_*.ddeb build-deb/ddeb
	cd build-deb/ddeb && mkdir -p usr/share/doc && ln -s callvane usr/share/doc/callvane-dbgsym \
	  && find usr -type f -exec md5sum {} + > DEBIAN/md5sums
	dpkg-deb --root-owner-group -Zxz -b build-deb/ddeb build-deb/$$(basename build-deb/callvane-dbgsym_*.ddeb) > /dev/null
	@ls build-deb/callvane_*.deb build-deb/callvane-dbgsym_*.ddeb

# Data tables in tests/ keep their columns between clang-format off and on.
FORMATTED = $(shell git ls-files '*.cpp' '*.h')

format: deps
	clang-format -i $(FORMATTED)

format-check: deps
	@clang-format --dry-run -Werror $(FORMATTED) && echo "format-check: $(words $(FORMATTED)) files as .clang-format has them"

tidy: build
	run-clang-tidy -p $(BUILD) -quiet -j$(JOBS) -extra-arg=-Werror '$(CURDIR)/(app|control|daemon|ezx|firewall|settingsstore)/' \
	    > $(BUILD)/tidy.log 2>&1 || { grep -A3 'warning:\|error:' $(BUILD)/tidy.log; exit 1; }
	@echo "tidy: no findings in $$(grep -c '^clang-tidy' $(BUILD)/tidy.log) files"

screenshots: build
	scripts/screenshots

clean:
	rm -rf $(BUILD) build-fuzz build-asan build-deb
