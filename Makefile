# The two entry points: `make demo` runs the main job on a built-in sample,
# `make test` runs every test. Both install what is missing first.
BUILD := build
NATIVE_BUILD := build-native
JOBS := 2

.PHONY: all deps build native demo test bench dist clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j$(JOBS)

native: deps
	@if [ -f native/CMakeLists.txt ]; then \
		cmake -S native -B $(NATIVE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && \
		cmake --build $(NATIVE_BUILD) -j$(JOBS); \
	fi

demo: build
	scripts/demo.sh $(BUILD)

test: build native
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	@if [ -f native/CMakeLists.txt ]; then ctest --test-dir $(NATIVE_BUILD) --output-on-failure -j$(JOBS); fi

bench: build
	bench/esd-bench.sh $(BUILD)
	bench/makepe-bench.sh $(BUILD)
	bench/winre-bench.sh $(BUILD)

# The release zip, dist/TarnwickMedia-<version>-win64.zip, of the default build.
dist: build
	rm -rf dist
	cmake -DTW_DIST_DIR=$(CURDIR)/dist -P $(BUILD)/packaging/make-zip.cmake

clean:
	rm -rf $(BUILD) $(NATIVE_BUILD)
