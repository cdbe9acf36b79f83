# The front door. `make demo` and `make test` install what is missing, build and run.
JOBS ?= 2
MAKEFLAGS += --no-print-directory
OCTAVE := octave-cli --no-gui --norc --no-history --quiet

.PHONY: all bootstrap build build-asan demo test bench dist clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTULM_BENCH=OFF >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: bootstrap
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULM_SANITIZE=ON \
	  -DTULM_OCTAVE=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

demo: build
	@$(OCTAVE) examples/tulm_demo.m

# The sanitizer run first, so that the last lines are the summary of the full run.
test: build build-asan
	@echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
	@ctest --test-dir build-asan --output-on-failure -j $(JOBS)
	@echo "== unit tests and Octave tests"
	@ctest --test-dir build --output-on-failure -j $(JOBS)

bench:
	@scripts/bootstrap bench
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTULM_BENCH=ON >/dev/null
	@cmake --build build -j $(JOBS)
	@bench/run_benchmarks.sh

# The Octave package: pkg install tulm-VERSION.tar.gz
dist:
	@scripts/make_dist

clean:
	rm -rf build build-asan
