# Entry points for building and testing. Each target installs the Debian
# packages it needs first (only the missing ones).

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_SECONDS ?= 60
# Most command-line tests wait on their local servers: twice as many as cores.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))

SANITIZER_ENV = ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all deps build test sanitize tsan fuzz bench bench-table mutants demo plain package format clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(TEST_JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCLOUDDB_SANITIZE=ON
	cmake --build $(ASAN_DIR)
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(TEST_JOBS)

# Backs up a live table on a local moto_server through the plug-in while it
# is written to, restores it and compares. Installs and builds only what the
# demo needs.
demo:
	bash scripts/install-deps.sh demo
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) --target clouddb-mover
	$(BUILD_DIR)/tools/clouddb-mover demo

# The library as a machine with only a compiler, CMake and RapidJSON builds
# it: the other packages are hidden from CMake, and the tools say that they
# are left out.
PLAIN_DIR ?= build-plain
plain: deps
	mkdir -p $(PLAIN_DIR)
	cmake -S . -B $(PLAIN_DIR) -G Ninja $(foreach package,CLI11 CURL OpenSSL PkgConfig GTest benchmark,\
	  -DCMAKE_DISABLE_FIND_PACKAGE_$(package)=ON) 2>&1 | tee $(PLAIN_DIR)/configure.log
	grep -q "clouddb-mover and the tools are not built: install" $(PLAIN_DIR)/configure.log
	cmake --build $(PLAIN_DIR)
	test -f $(PLAIN_DIR)/libclouddb.so && test ! -e $(PLAIN_DIR)/tools/clouddb-mover

# Benchmarks with repetitions; the table at the end gives the medians and
# their ratios to memcpy, istringstream + getline and a bare DOM parse.
BENCH_REPETITIONS ?= 5
bench: build
	$(BUILD_DIR)/bench/clouddb_bench --benchmark_repetitions=$(BENCH_REPETITIONS) \
	  --benchmark_report_aggregates_only=true --benchmark_min_time=0.3

# The table backup against a bare parallel scan and the AWS command line,
# and its memory at two table sizes, on a local dynalite.
BENCH_RUNS ?= 5
bench-table: build
	bash scripts/table-bench.sh $(BUILD_DIR) $(BENCH_RUNS)

# How many small faults the tests catch, per file (takes hours: every
# mutant is a rebuild and a test run). MUTANT_GROUPS: pipe, library, tools.
MUTANT_GROUPS ?= pipe library tools
mutants: deps
	bash scripts/mutants.sh $(MUTANT_GROUPS)

# Debian packages libclouddb0 (plug-in and host stand-in) and libclouddb-dev
# in $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack

# The tests that run threads, under ThreadSanitizer: the library's own, and
# the table commands, whose segments run on threads of their own.
tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLOUDDB_TSAN=ON \
	  -DCLOUDDB_BUILD_TOOLS=ON -DCLOUDDB_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN_DIR) --target clouddb_tests clouddb-mover
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(TEST_JOBS) \
	  -R 'Concurrent|Parallel|MoverWithTables|MoverUnderWrites'

# Each fuzz target for FUZZ_SECONDS seconds (clang, ASan + UBSan).
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzz.sh

format:
	git ls-files '*.h' '*.cc' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(PLAIN_DIR) build-fuzz
