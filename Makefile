# fxkit: `make` builds, `make test` runs every test (plain and sanitizer builds), `make demo`
# writes the gallery. Each target installs missing Debian packages first.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
FILTER ?=
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 30
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
# Debian's interpreter: it sees the python3-numpy and python3-pytest packages.
PYTHON ?= /usr/bin/python3
# Line tables only (-g1): stack traces and profiles keep their lines, and the test builds compile
# about a quarter faster than with full debug information.
LINES_ONLY = -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
             -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
# `make test` installs into this prefix and builds the consumer and the Python module against it.
INSTALL_TEST = $(abspath $(BUILD))/install-test

SAN_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
          UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: all deps build install test test-plain test-install test-python test-asan test-tsan demo bench bench-build floor scaling compare fuzz fuzz-build test-fuzz format clean

all: build

deps:
	@./tools/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LINES_ONLY) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps test-plain test-install test-python test-asan test-fuzz test-tsan

test-plain: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# `make install PREFIX=DIR`: the library, headers, tool, CMake package and pkg-config file.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Installs into a fresh prefix, then builds the consumer program against it through the CMake
# package and through pkg-config and runs both.
test-install: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	rm -rf $(INSTALL_TEST)
	cmake --install $(BUILD) --prefix $(INSTALL_TEST)/prefix >/dev/null
	tests/consumer/run.sh $(INSTALL_TEST)/prefix $(INSTALL_TEST)/consumer

# Builds the Python module with pip against the installed prefix (a copy of python/, so the source
# tree stays clean) in a venv that sees Debian's packages, then runs its tests against the
# installed tool. Offline: nothing is fetched.
test-python: test-install
	$(PYTHON) -m venv --system-site-packages --without-pip $(INSTALL_TEST)/venv
	cp -r python $(INSTALL_TEST)/python-src
	PKG_CONFIG_PATH=$(INSTALL_TEST)/prefix/lib/pkgconfig $(INSTALL_TEST)/venv/bin/python -m pip \
	  install --no-build-isolation --no-index --no-deps -q $(INSTALL_TEST)/python-src
	cd python && PYTHONDONTWRITEBYTECODE=1 FXKIT_CLI=$(INSTALL_TEST)/prefix/bin/fxkit \
	  $(INSTALL_TEST)/venv/bin/python -m pytest -q -p no:cacheprovider tests

# clang: the same build gives the smoke run's fuzz target (see test-fuzz).
$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFXKIT_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 $(CMAKE_FLAGS)

test-asan: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# The row engine and concurrent callers under ThreadSanitizer (the library and the thread tests).
$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFXKIT_TSAN=ON \
	  -DFXKIT_TOOLS=OFF $(LINES_ONLY) $(CMAKE_FLAGS)

test-tsan: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target fxkit_tsan_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

demo: build
	@mkdir -p out
	$(BUILD)/examples/swirl_demo out/swirl.ppm
	$(BUILD)/tools/fxkit/fxkit gallery @card out/gallery
	@echo "gallery written: open file://$(CURDIR)/out/gallery/index.html"

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp' '*.c')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) out

$(BENCH_BUILD)/build.ninja:
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DFXKIT_BENCH=ON \
	  -DFXKIT_TESTS=OFF $(CMAKE_FLAGS)

bench-build: deps $(BENCH_BUILD)/build.ninja
	cmake --build $(BENCH_BUILD) -j $(JOBS)

bench: bench-build
	$(BENCH_BUILD)/bench/fxkit_bench --benchmark_filter='$(FILTER)' --benchmark_min_time=0.5

# The trigonometric kernels against their libm floor: nine repetitions in random order, so a
# slower spell of a shared machine falls on kernel and floor alike; compare the medians.
floor: bench-build
	$(BENCH_BUILD)/bench/fxkit_bench \
	  --benchmark_filter='^(floor/(swirl|spherize|radial-blur)|(swirl|spherize|radial-blur)/24/t1/)' --benchmark_min_time=0.3 \
	  --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
	  --benchmark_report_aggregates_only=true

# Each effect's speed-up from one thread to all cores, the two settings' repetitions interleaved.
scaling: bench-build
	./tools/install-deps.sh python3
	./bench/scaling

compare: bench-build
	./tools/install-deps.sh imagemagick python3
	./bench/compare

# Fuzzing: clang, libFuzzer, ASan and UBSan over the whole library. New inputs go to
# $(FUZZ_BUILD)/corpus; a crash is written to $(FUZZ_BUILD)/artifacts/ and belongs in
# fuzz/regressions/ once fixed, so every later run replays it.
# $(call fuzz_run,BUILD_DIR): the fuzz target of that build, with its artifacts beside it.
fuzz_run = $(SAN_ENV) $(1)/fuzz/fxkit_fuzz -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
           -artifact_prefix=$(1)/artifacts/

$(FUZZ_BUILD)/build.ninja:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DFXKIT_FUZZ=ON -DFXKIT_TESTS=OFF -DFXKIT_TOOLS=OFF \
	  $(LINES_ONLY) $(CMAKE_FLAGS)

fuzz-build: $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fxkit_fuzz
	@mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/artifacts

# `make fuzz FUZZ_SECONDS=N`: a fuzzing session of N seconds.
fuzz: deps fuzz-build
	$(call fuzz_run,$(FUZZ_BUILD)) -max_total_time=$(FUZZ_SECONDS) $(FUZZ_BUILD)/corpus fuzz/corpus \
	  fuzz/regressions

# The bounded smoke run of `make test`: the seed corpus and every regression input first, then
# new inputs from a fixed seed for FUZZ_SMOKE_SECONDS. Its target comes from the sanitizer build,
# which counts edges but does not trace comparisons: one library build less than a fuzz build.
test-fuzz: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fxkit_fuzz
	@mkdir -p $(ASAN_BUILD)/corpus $(ASAN_BUILD)/artifacts
	$(call fuzz_run,$(ASAN_BUILD)) -seed=1 -max_total_time=$(FUZZ_SMOKE_SECONDS) \
	  $(ASAN_BUILD)/corpus fuzz/corpus fuzz/regressions
