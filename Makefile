# make test: install what is missing, build plain and sanitized, run the tests in both (the
# sanitized build leaves out the window and the benchmarks).
# make demo: build, lay out a demo program folder and run the window against gateway-sim.
# make demo-service: the same folder drained by parlixd, the service, without a display.
# make demo-shared: three parlixd drain one queue in a private PostgreSQL; one is killed mid-batch.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: test demo demo-service demo-shared deps build build-asan format format-check clean

test: deps format-check build build-asan
	ctest --test-dir build --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

demo: deps
	scripts/demo.sh

demo-service: deps
	scripts/demo.sh --service

demo-shared: deps
	scripts/demo-shared.sh

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLIX_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

build-asan:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARLIX_SANITIZE=ON -DPARLIX_WERROR=ON \
	  -DPARLIX_GUI=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)

FORMAT_FILES = $(shell git ls-files -co --exclude-standard -- '*.cpp' '*.h')

format:
	clang-format -i $(FORMAT_FILES)

format-check:
	clang-format --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf build build-asan
