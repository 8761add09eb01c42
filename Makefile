SHELL := /bin/bash
# The two set-up commands of the README are `make run` and `make test`;
# both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
TSAN_TESTS ?= *Loopback*:*Threads*:StartupBinary.*:ArchiveWriter.*:PacketLogBinary.*:RecordingBounds.*

.PHONY: deps build run test test-plain test-asan test-tsan bench clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

# Only the TNC and what it needs: the whole build with its tests takes minutes.
run: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target kestrelis-tnc
	build/kestrelis-tnc

test: deps test-plain test-asan test-tsan test-thread-safety fuzz-smoke test-windows

test-plain:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTRELIS_SANITIZE="address;undefined" $(CMAKE_FLAGS) >/dev/null
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The tests in which more than one thread runs, under ThreadSanitizer.
test-tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTRELIS_SANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target kestrelis_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  build-tsan/kestrelis_tests --gtest_filter='$(TSAN_TESTS)'

# The product built with clang, which checks every access to a field that a
# lock guards against the locks held there.
.PHONY: test-thread-safety
test-thread-safety:
	CXX=clang++ CC=clang cmake -S . -B build-tsa -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTRELIS_THREAD_SAFETY=ON -DKESTRELIS_TESTS=OFF -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-tsa -j $(JOBS)

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKESTRELIS_BENCH=ON \
	  -DKESTRELIS_TESTS=OFF -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-bench -j $(JOBS) --target kestrelis_bench
	build-bench/kestrelis_bench $(BENCH_ARGS)

# Frames recovered against bit error rate by each acquisition, hard and soft,
# false candidates in noise and speed (a few minutes); not part of `make test`.
# Then the real modem's soft captures, when bench/gmsk_soft_capture.py has
# made them in $(SOFT_CAPTURES).
SOFT_CAPTURES ?= build-bench/soft-captures
.PHONY: sensitivity
sensitivity: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKESTRELIS_BENCH=ON \
	  -DKESTRELIS_TESTS=OFF -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-bench -j $(JOBS) --target kestrelis_sensitivity
	build-bench/kestrelis_sensitivity
	@if [ -f $(SOFT_CAPTURES)/frames ]; then \
	  echo; echo "Real GMSK modem, soft captures in $(SOFT_CAPTURES):"; echo; \
	  echo "| Eb/N0 dB | frames | bound | soft bound | robust N=6 | soft | soft / bound | wrong |"; \
	  echo "|---|---|---|---|---|---|---|---|"; \
	  for f in $$(cd $(SOFT_CAPTURES) && ls *dB | sort -g); do \
	    printf '| %s ' "$${f%dB}"; \
	    build-bench/kestrelis_sensitivity --received $(SOFT_CAPTURES)/$$f \
	      $$(cat $(SOFT_CAPTURES)/frames) || exit 1; \
	  done; \
	fi

clean:
	rm -rf build build-asan build-tsan build-tsa build-bench build-fuzz build-windows

# libFuzzer targets, built with clang. `make test` runs each for a bounded
# number of inputs; `make fuzz` runs each for FUZZ_SECONDS.
FUZZ_RUNS ?= 20000
FUZZ_SECONDS ?= 600
FUZZ_TARGETS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/*_fuzz.cpp))

.PHONY: fuzz-build fuzz-smoke fuzz
fuzz-build:
	CXX=clang++ CC=clang cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTRELIS_FUZZ=ON -DKESTRELIS_TESTS=OFF -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-fuzz -j $(JOBS)

fuzz-smoke: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  name=$${t%_fuzz}; mkdir -p build-fuzz/corpus/$$name; \
	  echo "fuzz: $$t, $(FUZZ_RUNS) runs"; \
	  build-fuzz/fuzz/$$t -runs=$(FUZZ_RUNS) -seed=1 -max_len=4096 -artifact_prefix=build-fuzz/ \
	    build-fuzz/corpus/$$name fuzz/corpus/$$name 2>&1 | grep -E 'Done [0-9]+ runs|ERROR|SUMMARY|deadly' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  name=$${t%_fuzz}; mkdir -p fuzz/corpus-work/$$name; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=fuzz/corpus-work/ \
	    fuzz/corpus-work/$$name fuzz/corpus/$$name 2>&1 | grep -E 'Done [0-9]+ runs|stat::number_of_executed_units|ERROR|SUMMARY|deadly'; \
	done

# A whole station on this machine for DEMO_SECONDS (default 60); Ctrl-C stops it.
.PHONY: demo
demo: build
	@scripts/demo.sh

# The Debian package, in build/.
.PHONY: package
package: build
	cmake --build build --target package

# The load, fault and soak run against the real binary (a few minutes);
# LOAD_ARGS=--quick for a short one.
.PHONY: load
load: build
	build/tools/kestrelis-load $(LOAD_ARGS)

# The Windows programs, cross-built with mingw-w64 into build-windows/ (inih's
# sources from KESTRELIS_INIH_DIR, ../shared/third_party/inih-r55 by default).
WINDOWS_CMAKE = cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

.PHONY: windows windows-build test-windows
windows-build: deps
	$(WINDOWS_CMAKE)
	cmake --build build-windows -j $(JOBS)

# ... and packed: kestrelis-<version>-windows-x64.zip and -setup.exe there.
windows: windows-build
	cmake --build build-windows --target windows-package

# The Windows build's unit tests under wine, then its end-to-end run against
# the Linux simulator, KISS client and team stand-in (from build/) and a real
# rigctld, and a silent install and uninstall of the installer.
test-windows: windows
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target kestrelis-sim kestrelis-kiss kestrelis-team
	JOBS=$(JOBS) scripts/windows-test.sh

# The real rigctld stopped at each moment of a transmission and resumed,
# SOAK_RUNS times per moment (`make test` runs 3); the transmitter must end unkeyed.
SOAK_RUNS ?= 25
.PHONY: soak-keying
soak-keying: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target kestrelis_tests
	KESTRELIS_STALL_RUNS=$(SOAK_RUNS) build/kestrelis_tests --gtest_filter='RigctldStall.*'
