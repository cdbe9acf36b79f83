# The front door. `make demo` and `make test` install what is missing, build and run.
JOBS ?= 2
MAKEFLAGS += --no-print-directory
OCTAVE := octave-cli --no-gui --norc --no-history --quiet

.PHONY: all bootstrap check-format check-portability build build-asan build-fuzz demo test bench verify-expf fuzz \
  golden-update cross dist clean

FUZZ_SECONDS ?= 600

all: build

bootstrap:
	@scripts/bootstrap

# Builds print their log only when they fail.
QUIET_BUILD = > $(1)/build.log 2>&1 || { cat $(1)/build.log; exit 1; }

build: bootstrap
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTULM_BENCH=OFF >/dev/null
	@echo "building build/ (plug-ins for the stand-in host and for Octave, unit tests)"
	@cmake --build build -j $(JOBS) $(call QUIET_BUILD,build)

build-asan: bootstrap
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULM_SANITIZE=ON \
	  -DTULM_OCTAVE=ON >/dev/null
	@echo "building build-asan/ (AddressSanitizer and UndefinedBehaviorSanitizer, both hosts)"
	@cmake --build build-asan -j $(JOBS) $(call QUIET_BUILD,build-asan)

# Every plug-in with libFuzzer coverage, AddressSanitizer and UndefinedBehaviorSanitizer.
build-fuzz: bootstrap
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTULM_FUZZ=ON -DTULM_OCTAVE=OFF -DTULM_TESTS=OFF >/dev/null
	@echo "building build-fuzz/ (libFuzzer with the sanitizers, clang)"
	@cmake --build build-fuzz -j $(JOBS) $(call QUIET_BUILD,build-fuzz)

# Every C and C++ source as clang-format writes it; first in `make test`, as it takes a second.
check-format: bootstrap
	@scripts/check_format

# Compiler extensions only in core/portability.h and intrinsics only in the lane files, so that
# MSVC, MATLAB's compiler on Windows, stays possible.
check-portability:
	@scripts/check_portability

demo: build
	@$(OCTAVE) examples/tulm_demo.m

# The sanitizer run first, so that the last lines are the summary of the full run.
test: check-format check-portability build build-asan build-fuzz
	@echo "== the saved fuzzing corpus, under the sanitizers"
	@ctest --test-dir build-fuzz --output-on-failure
	@echo "== unit tests, and Octave tests, under AddressSanitizer, LeakSanitizer and UBSan"
	@ctest --test-dir build-asan --output-on-failure -j $(JOBS)
	@echo "== Octave tests under valgrind's memcheck"
	@tests/octave/valgrind_octave.sh build/octave
	@$(MAKE) cross
	@echo "== unit tests and Octave tests"
	@ctest --test-dir build --output-on-failure -j $(JOBS)

bench:
	@scripts/bootstrap bench
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTULM_BENCH=ON >/dev/null
	@cmake --build build -j $(JOBS)
	@bench/run_benchmarks.sh

# Every float input of the smoothing's exponential against a multiple-precision reference, on
# both cores; prints the counts and the time (a few minutes). Not part of `make test`.
verify-expf:
	@scripts/bootstrap verify
	@cmake -S . -B build-verify -DCMAKE_BUILD_TYPE=Release -DTULM_VERIFY=ON -DTULM_OCTAVE=OFF \
	  -DTULM_TESTS=OFF >/dev/null
	@mkdir -p build-verify
	@cmake --build build-verify -j $(JOBS) --target verify_expf $(call QUIET_BUILD,build-verify)
	@build-verify/tests/verify/verify_expf

# Fuzzes every plug-in for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=60), starting from the saved
# corpus; inputs that reach new code are merged into it, findings land in build-fuzz/findings.
fuzz: build-fuzz
	@mkdir -p build-fuzz/corpus build-fuzz/findings
	@TULM_PLUGIN_DIR=build-fuzz/host build-fuzz/tests/fuzz/fuzz_plugins \
	  -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=256 -rss_limit_mb=4096 \
	  -print_final_stats=1 -artifact_prefix=build-fuzz/findings/ \
	  build-fuzz/corpus tests/fuzz/corpus
	@TULM_PLUGIN_DIR=build-fuzz/host build-fuzz/tests/fuzz/fuzz_plugins -merge=1 \
	  tests/fuzz/corpus build-fuzz/corpus 2>&1 | tail -n 1

# Rewrites the reference bits of the golden-output check (tests/golden) from this machine's run.
# Only for a change of bits that is intended; the commit says so.
golden-update: build
	@build/tests/golden/tulm_golden --write tests/golden/reference_hashes.txt

# The toolbox for Windows x64 (MinGW-w64) and ARM64 Linux: the plug-ins for the stand-in host
# and the unit tests, each test program run once, in one process, under wine or qemu-user, so
# that every result is checked bit for bit on both, then the recorded bits of every plug-in on
# both. Wine keeps its files in build-cross, never in ~/.wine. The last step of `make test`
# but one.
CROSS_CONFIGURE = -DCMAKE_BUILD_TYPE=Release -DTULM_OCTAVE=OFF -DTULM_BENCH=OFF --no-warn-unused-cli
CROSS_WINE = env WINEPREFIX=$(CURDIR)/build-cross/windows-x64/wine WINEDEBUG=-all wine
CROSS_QEMU = qemu-aarch64 -L /usr/aarch64-linux-gnu
NATIVE_GOLDEN = build/tests/golden/tulm_golden

cross: build
	@scripts/bootstrap cross
	@cmake -S . -B build-cross/windows-x64 $(CROSS_CONFIGURE) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake >/dev/null
	@echo "building build-cross/windows-x64 (MinGW-w64: plug-ins for the stand-in host, tests)"
	@cmake --build build-cross/windows-x64 -j $(JOBS) $(call QUIET_BUILD,build-cross/windows-x64)
	@cmake -S . -B build-cross/linux-arm64 $(CROSS_CONFIGURE) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake >/dev/null
	@echo "building build-cross/linux-arm64 (GCC for ARM64: plug-ins for the stand-in host, tests)"
	@cmake --build build-cross/linux-arm64 -j $(JOBS) $(call QUIET_BUILD,build-cross/linux-arm64)
	@test -d build-cross/windows-x64/wine || $(CROSS_WINE) wineboot --init >/dev/null 2>&1
	@status=0; \
	echo "== unit tests on Windows x64, under wine"; \
	$(CROSS_WINE) build-cross/windows-x64/host/tulm_unit_tests.exe --gtest_brief=1 || status=1; \
	echo "== unit tests on ARM64 Linux, under qemu-aarch64"; \
	$(CROSS_QEMU) build-cross/linux-arm64/tests/unit/tulm_unit_tests --gtest_brief=1 || status=1; \
	tests/golden/check_platform.sh "Windows x64, under wine" build-cross/windows-x64 \
	  $(NATIVE_GOLDEN) $(CROSS_WINE) build-cross/windows-x64/host/tulm_golden.exe || status=1; \
	tests/golden/check_platform.sh "ARM64 Linux, under qemu-aarch64" build-cross/linux-arm64 \
	  $(NATIVE_GOLDEN) $(CROSS_QEMU) build-cross/linux-arm64/tests/golden/tulm_golden || status=1; \
	exit $$status

# The Octave package: pkg install tulm-VERSION.tar.gz
dist:
	@scripts/make_dist

clean:
	rm -rf build build-asan build-fuzz build-verify build-cross
