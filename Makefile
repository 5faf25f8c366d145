# make demo: install what is missing, build, show the preflight report of the built-in machine.
# make test: install what is missing, build both platforms, run every test.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
DEBS := cmake make g++ nlohmann-json3-dev libcli11-dev googletest libgtest-dev libbenchmark-dev \
        g++-mingw-w64-i686-posix wine wine32 clang lld llvm libclang-rt-14-dev dmidecode
QFCHECK := build/linux/tools/qfcheck/qfcheck

.PHONY: demo test sanitize fuzz deps build-linux build-windows test-linux test-windows clean

# A machine that is not ready (exit 1) is a report like any other; only an
# error (exit 2) fails the demo.
demo: deps build-linux
	@echo; echo "\$$ $(QFCHECK) preflight"; echo
	@$(QFCHECK) preflight; [ $$? -le 1 ]

test: deps build-linux build-windows test-linux test-windows

deps:
	@missing=""; for p in $(DEBS); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build-linux:
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

build-windows:
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

test-linux: build-linux
	ctest --preset linux -j $(JOBS)

test-windows: build-windows
	ctest --preset windows

# The Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j $(JOBS)

clean:
	rm -rf build

# --- benchmarks ---
# The hot paths against baselines measured in the same run: a table of
# ratios and goals (bench/README.md). Timing only; `make test` runs none of it.
# BENCH_ARGS passes Google Benchmark flags, e.g. --benchmark_repetitions=30.
BENCH_ARGS ?=
.PHONY: bench
bench: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target qf_bench
	build/linux/bench/qf_bench $(BENCH_ARGS)

# Every fuzz target for FUZZ_SECONDS (default 60), seeded from the sample
# machines and the real firmware tables; a finding fails the run.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run.sh build/fuzz $(FUZZ_SECONDS)
