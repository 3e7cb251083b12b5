# Front door. `make run` starts the bridge with the host simulator on the
# example settings; `make test` builds and runs every test.
BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
CMAKE_ARGS ?=

.PHONY: all build deps run test asan tsan test-asan test-tsan fuzz bench format clean

all: build

deps:
	@scripts/ensure-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

run: build
	@scripts/run-example.sh $(BUILD)

# Sanitizer builds: ASan+UBSan and TSan, each in its own folder.
test-asan: deps
	cmake --preset asan -G "$(GENERATOR)" >/dev/null
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake --preset tsan -G "$(GENERATOR)" >/dev/null
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# libFuzzer targets under ASan+UBSan (needs clang); FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/ensure-deps.sh clang libclang-rt-14-dev
	cmake --preset fuzz -G "$(GENERATOR)" >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-* 
