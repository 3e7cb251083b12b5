# Front door. `make run` starts the bridge with the host simulator on the
# example settings; `make test` builds and runs every test.
BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# Looked up when a folder is first configured (after the packages are
# installed); a folder keeps the generator it was made with.
GENERATOR   = $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
generator   = $(if $(wildcard $(1)/CMakeCache.txt),,-G "$(GENERATOR)")
# Extra settings for the release and Windows builds, after their defaults:
# CI passes CMAKE_ARGS=-DP50X_WERROR=ON to turn warnings into errors.
CMAKE_ARGS ?=

.PHONY: all build configure deps run test test-asan test-tsan fuzz soak bench format clean install package package-windows check-package

all: build

deps:
	@scripts/ensure-deps.sh

# Configured on every run, like the other presets, so the release preset's
# settings (and CMAKE_ARGS) always hold.
configure: deps
	cmake --preset release -B $(BUILD) $(call generator,$(BUILD)) $(CMAKE_ARGS) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

run: build
	@scripts/run-example.sh $(BUILD)

# Install into PREFIX (default /usr/local), under DESTDIR when it is set:
# programs, manual pages, examples, the systemd unit. The build folder is
# pointed at PREFIX first, so the unit names the programs where they land.
PREFIX ?= /usr/local
install: configure
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX="$(PREFIX)" >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# The Debian package build/p50x-bridge_VERSION_ARCH.deb (installed under /usr).
package: configure
	@scripts/ensure-deps.sh dpkg-dev file
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

# Install, package and trace checks: file lists, the unit, lintian, the zip.
check-package:
	scripts/check-package.sh $(BUILD) $(WIN_BUILD)

# Sanitizer builds: ASan+UBSan and TSan, each in its own folder.
test-asan: deps
	cmake --preset asan $(call generator,build-asan) >/dev/null
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake --preset tsan $(call generator,build-tsan) >/dev/null
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# libFuzzer targets under ASan+UBSan (needs clang); FUZZ_SECONDS per target,
# or, with FUZZ_RUNS=N, until each has run N inputs (a long campaign).
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
fuzz:
	@scripts/ensure-deps.sh clang libclang-rt-14-dev
	cmake --preset fuzz $(call generator,build-fuzz) >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_RUNS)

# The bridge for SOAK_SECONDS under every fault at once; the figures line at
# the end, status 1 with the first failures. SOAK_ARGS passes options of
# build/tests/p50x-soak (--seed N, ...).
SOAK_SECONDS ?= 600
SOAK_ARGS ?=
soak: build
	$(BUILD)/tests/p50x-soak --bridge $(BUILD)/p50x-bridge --seconds $(SOAK_SECONDS) $(SOAK_ARGS)

bench: build
	@for b in $(BUILD)/bench/*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

# Windows: cross-built with mingw-w64 into build-win/ (p50x-bridge.exe and
# p50x-hostsim.exe need no DLL); tested under Wine, the end-to-end test driven
# from the native build.
WIN_BUILD ?= build-win
.PHONY: windows test-windows package-windows

# The toolchain file counts only when the folder is first configured; later
# runs apply the release settings and CMAKE_ARGS again, as for build/.
windows:
	@scripts/ensure-deps.sh g++-mingw-w64-x86-64 wine wine64
	cmake -S . -B $(WIN_BUILD) $(call generator,$(WIN_BUILD)) \
	  $(if $(wildcard $(WIN_BUILD)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake) \
	  -DCMAKE_BUILD_TYPE=Release -DP50X_BUILD_BENCH=OFF -DP50X_WERROR=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(WIN_BUILD) -j $(JOBS)

# build-win/p50x-bridge-VERSION-windows.zip: the three programs, README.txt
# and the examples in one folder.
package-windows: windows
	cd $(WIN_BUILD) && cpack -G ZIP

test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target test_wine_e2e
	JOBS=$(JOBS) scripts/test-windows.sh $(WIN_BUILD) $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-* 
