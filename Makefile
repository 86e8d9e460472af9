# The two commands a new user needs: `make run` and `make test`.
# Each installs what it needs first (scripts/install-deps), then builds.

PRESET ?= release
BUILD_release    := build
BUILD_debug      := build-debug
BUILD_asan-ubsan := build-asan
BUILD := $(BUILD_$(PRESET))
JOBS   ?= $(shell nproc)

.PHONY: all deps configure build run test bench fuzz deb clean format

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake --preset $(PRESET) -Wno-dev >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the program and the sample drawer: the test suite is not needed to run.
# On a desktop it ends in the app itself: main window and tray item.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quorvel quorvel-sample
	@$(BUILD)/tools/quorvel-sample $(BUILD)/sample_screenshot.png
	@$(BUILD)/src/quorvel compose --background cool --padding 48 --radius 14 \
	    --output $(BUILD)/sample_with_background.png $(BUILD)/sample_screenshot.png
	@echo "The program is $(BUILD)/src/quorvel; see README.md for putting it on PATH."
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    echo "Starting Quorvel; choose Quit in its menu to finish."; \
	    $(BUILD)/src/quorvel; \
	else \
	    echo "No display here; on a desktop, 'make run' starts the Quorvel app."; \
	fi

test: build
	@ctest --preset $(PRESET)

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@bench/run $(BUILD)

# The fuzz targets, built with clang into build-fuzz: each replays its kept
# inputs, then fuzzes for FUZZ_SECONDS (default 180). See fuzz/run.
fuzz: deps
	@FUZZ_JOBS=$(JOBS) fuzz/run

# A Debian package of the release build: build/quorvel_<version>_<arch>.deb.
deb: build
	@cd $(BUILD) && cpack -G DEB

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD) build-debug build-asan build-fuzz
