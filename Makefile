# The commands of the README. Every target installs what is missing first.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: deps build test test-asan test-tsan demo run clean package

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

# Line efficiency and CPU share of uploads and downloads through tavrin-cli against the
# simulated target paced like a UART, then the output window fed at 921600 baud for 60 s
# and flooded with 1 GiB (Release, build-bench), then a station loading 20 boxes in a row;
# fails when a target is missed.
.PHONY: bench
bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVRIN_BUILD_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS) --target tavrin_line_bench tavrin_output_view_bench \
	  tavrin_station_bench
	build-bench/bench/tavrin_line_bench
	build-bench/bench/tavrin_station_bench
	build-bench/bench/tavrin_output_view_bench

# Headless: the simulated target and an upload and a download through tavrin-cli.
demo: build
	@bash scripts/demo.sh $(BUILD)

# The window on the simulated target: the target on a pseudo-terminal, the program started
# with TAVRIN_PORT naming it; the target is stopped when the program exits.
# SIM_ARGS go to the target, e.g. make run SIM_ARGS="--baud 115200" paces it like a UART.
SIM_ARGS ?=
run: build
	@bash scripts/run-gui.sh $(BUILD) $(SIM_ARGS)

# Debian packages into dist/: tavrin (the window), tavrin-cli and tavrin-target-sim. Built
# as a distribution builds: Debian's standard compiler and linker flags (hardening),
# warnings not fatal (TAVRIN_WERROR=OFF), the build date from SOURCE_DATE_EPOCH (the
# changelog's date unless set), no tests; dependencies from the binaries (dpkg-shlibdeps).
PACKAGE_BUILD ?= build-package
package: deps
	rm -f dist/*.deb
	export SOURCE_DATE_EPOCH="$${SOURCE_DATE_EPOCH:-$$(dpkg-parsechangelog -l packaging/changelog -S Timestamp)}" \
	  DEB_BUILD_MAINT_OPTIONS=hardening=+all && \
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=None -DTAVRIN_WERROR=OFF \
	  -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCH=OFF -DTAVRIN_BUILD_FUZZ=OFF -DTAVRIN_SANITIZE= \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_FLAGS) >/dev/null && \
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) && \
	cd $(PACKAGE_BUILD) && cpack -G DEB -D CPACK_OUTPUT_FILE_PREFIX="$(CURDIR)/dist"
	@ls -1 dist/*.deb

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-release build-package dist
