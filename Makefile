# The commands of the README. Every target installs what is missing first.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: deps build test test-asan test-tsan clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under address+undefined and under thread sanitizer.
test-asan: deps
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DTAVRIN_SANITIZE=address"

test-tsan: deps
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DTAVRIN_SANITIZE=thread"

# Every libFuzzer target for FUZZ_SECONDS each (clang, build-fuzz); fails on any finding.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: deps
	bash scripts/run-fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
