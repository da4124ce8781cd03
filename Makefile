# User-facing commands; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Fuzz seconds per target within `make test`.
FUZZ_SECONDS ?= 10

.PHONY: deps build run test quicktest windows-check sanitizers fuzz bench clean format

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	cd $(BUILD_DIR)/stage/RedfishServer && ./tolvaneredfishserver run

# Everything CI runs: the suite, the Windows sources, the sanitizer builds and
# a short fuzzing run.
test: quicktest windows-check sanitizers fuzz

quicktest: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

windows-check: build
	bash scripts/check-windows-sources.sh $(BUILD_DIR)

sanitizers: deps
	bash scripts/sanitizers.sh all

fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: deps
	bash scripts/bench.sh

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz build-bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')
