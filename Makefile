# User-facing commands; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build run test clean format

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	cd $(BUILD_DIR)/stage/RedfishServer && ./tolvaneredfishserver run

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

clean:
	rm -rf $(BUILD_DIR)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c' '*.inl' | grep -v '^third_party/')
