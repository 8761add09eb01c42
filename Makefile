# The two set-up commands of the README are `make run` and `make test`;
# both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
TSAN_TESTS ?= *Loopback*:*Threads*

.PHONY: deps build run test test-plain test-asan test-tsan bench clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

run: build
	build/kestrelis-tnc

test: deps test-plain test-asan test-tsan

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
	  -DKESTRELIS_SANITIZE=thread -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target kestrelis_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  build-tsan/kestrelis_tests --gtest_filter='$(TSAN_TESTS)'

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKESTRELIS_BENCH=ON \
	  -DKESTRELIS_TESTS=OFF -DKESTRELIS_TOOLS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build build-bench -j $(JOBS) --target kestrelis_bench
	build-bench/kestrelis_bench $(BENCH_ARGS)

clean:
	rm -rf build build-asan build-tsan build-bench
