# User-facing commands; see README.md.
BUILD_DIR ?= build
# The Windows cross build, beside the Linux one.
WINDOWS_BUILD_DIR ?= $(BUILD_DIR)-windows
JOBS ?= $(shell nproc)
# Fuzz seconds per target within `make test`.
FUZZ_SECONDS ?= 5

.PHONY: deps build run test quicktest stage package conformance windows-check windows windows-test sanitizers fuzz bench clean format

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: stage
	cd $(BUILD_DIR)/stage/RedfishServer && ./tolvaneredfishserver run

# Everything CI runs: the program and the DMTF validators against it, the
# Windows sources and the Windows build under wine, the whole suite in the
# sanitizer builds and a short fuzzing run. The suite runs once, in the
# AddressSanitizer build: a second plain pass would double its compile time.
test: conformance windows-check windows-test sanitizers fuzz

# The whole suite in the plain build.
quicktest: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The program and its plug-ins in the install tree, without the tests.
stage: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS) --target stage

# The Debian package $(BUILD_DIR)/tolvane-redfish-server_<version>_<arch>.deb
# (cmake/package.cmake, packaging/), checked by lintian.
package: stage
	bash scripts/package-deps.sh
	bash scripts/package.sh $(BUILD_DIR)

# The staged program checked by the DMTF validators.
conformance: stage
	cd $(BUILD_DIR) && ctest --output-on-failure -L conformance --no-tests=error --timeout 1200

windows-check: stage
	bash scripts/check-windows-sources.sh $(BUILD_DIR)

# The Windows install tree in $(WINDOWS_BUILD_DIR)/stage (cross-built with
# mingw-w64; OpenSSL built once and cached in ~/.cache/tolvane).
windows: deps
	JOBS=$(JOBS) bash scripts/windows-build.sh $(WINDOWS_BUILD_DIR)

# The Windows build run under wine in a fresh prefix.
windows-test: windows
	bash scripts/windows-test.sh $(WINDOWS_BUILD_DIR)

sanitizers: deps
	bash scripts/sanitizers.sh all

fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: deps
	bash scripts/bench.sh

clean:
	rm -rf $(BUILD_DIR) $(WINDOWS_BUILD_DIR) build-asan build-tsan build-fuzz build-bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')
