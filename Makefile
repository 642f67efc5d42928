# Two commands on a fresh Debian 12 machine:
#   make run   builds everything and starts the program
#   make test  builds the native and Windows presets and runs every test
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30
PACKAGES := g++ cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth googletest libgtest-dev \
            libbenchmark-dev ntfs-3g clang clang-format libclang-rt-14-dev apt-file lz4 python3 util-linux mount \
            imagemagick python3-cryptography x11-utils
NATIVE_PRESETS := native native-asan native-tsan

.PHONY: deps build-native build-windows run test test-format test-native test-windows test-fuzz bench bench-ui \
        bench-startup screenshot clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
		$$SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y $$missing; \
	fi

test-native: $(addprefix test-preset-,$(NATIVE_PRESETS))

test-preset-%: deps
	cmake --preset $* >/dev/null && cmake --build --preset $* -j $(JOBS) && ctest --preset $*

test-windows: deps
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS) && ctest --preset windows

test-fuzz: deps
	cmake --preset fuzz -DOV_FUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null && cmake --build --preset fuzz -j $(JOBS) && \
		ctest --preset fuzz

# Every C++ file as clang-format would write it.
test-format: deps
	@bad=$$(git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run 2>&1 | grep -o '^[^:]*:[0-9]*:[0-9]*: warning' | cut -d: -f1 | sort -u); \
	if [ -n "$$bad" ]; then echo "clang-format differs in:" $$bad; exit 1; fi

# Three lanes side by side, so that no build or suite waits for an unrelated one:
# the plain and ASan builds, the TSan build and the fuzzers, the Windows build
# with its Wine suites (which mostly wait on windows).
test: test-format
	@MAKE="$(MAKE)" cmake/test-lanes.sh native:test-preset-native,test-preset-native-asan \
		tsan:test-preset-native-tsan,test-fuzz windows:test-windows

BENCH_FILTER ?= .

build-native: deps
	cmake --preset native >/dev/null && cmake --build --preset native -j $(JOBS)

build-windows: deps
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS)

# Every benchmark; BENCH_FILTER narrows them (a Google Benchmark regex). The search
# rows at 10 million entries then run in the Windows build under Wine, and both
# builds' figures are printed side by side.
bench: build-native build-windows
	build/native/bin/ov_bench --benchmark_filter='$(BENCH_FILTER)' \
		--benchmark_out=build/native/bench.json --benchmark_out_format=json
	python3 bench/side_by_side.py '$(BENCH_FILTER)' build/native/bench.json \
		build/windows/wine-run.sh build/windows/bin/ov_search_timing.exe

# From a keystroke in the search box to the list painted: the Windows build's
# ov_ui_timing under Wine on a virtual display, over a saved index of
# BENCH_UI_SIZE (1M, 3M, 8M or 10M) corpus entries that the native build writes
# when it is missing or older than its writer; BENCH_UI_ROUNDS keystrokes a case.
# The bare list it is measured against stands beside the main window, so the
# virtual screen is made wide enough for both.
BENCH_UI_SIZE ?= 10M
BENCH_UI_ROUNDS ?= 30
bench-ui: deps
	cmake --preset native >/dev/null && cmake --build --preset native -j $(JOBS) --target ov_make_saved_index
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS) --target ov_ui_timing
	@index=build/windows/bin/ui-bench/index-$(BENCH_UI_SIZE).db; \
	if [ ! $$index -nt build/native/bin/ov_make_saved_index ]; then \
		mkdir -p build/windows/bin/ui-bench && \
		build/native/bin/ov_make_saved_index @$(BENCH_UI_SIZE) $$index $(BENCH_UI_SIZE:M=000000) || exit 1; \
	fi
	OV_GUI_SCREEN=2560x1024 build/windows/gui-run.sh build/windows/bin/ov_ui_timing.exe 'T:\ui-bench\index-$(BENCH_UI_SIZE).db' \
		$(BENCH_UI_ROUNDS)

# Orvane.exe's start-up and exit under Wine on a virtual display over saved
# indexes of BENCH_STARTUP_SIZES corpus entries (kept as added folders that
# are not there, so nothing replaces the loaded entries): start to window, to
# the first results, memory per entry, exit with the save; beside it the load
# and first search of the same entries saved as added folders and as NTFS
# volumes, and the floor (the file read and one sort by name);
# BENCH_STARTUP_ROUNDS runs each, medians at the end. BENCH_STARTUP_BIN times
# the programs of another folder with the same tools.
BENCH_STARTUP_SIZES ?= 1M 10M
BENCH_STARTUP_ROUNDS ?= 3
bench-startup: deps
	cmake --preset native >/dev/null && cmake --build --preset native -j $(JOBS) --target ov_make_saved_index
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS) --target Orvane ov_gui ov_saved_index_timing
	python3 bench/startup_timing.py $(if $(BENCH_STARTUP_BIN),--bin $(BENCH_STARTUP_BIN)) $(BENCH_STARTUP_ROUNDS) \
		$(BENCH_STARTUP_SIZES)

# Builds Orvane.exe and starts it under Wine in the project's own prefix (D: is
# your home folder); without a display it runs on Xvfb and saves a screenshot.
run: deps
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS) --target Orvane ov_gui
	cmake/run-orvane.sh

# The README's picture, docs/screenshot.png: Orvane.exe under Wine on a virtual
# display over a small made-up folder tree, searching ORVANE_SCREENSHOT_SEARCH.
screenshot: deps
	cmake --preset windows >/dev/null && cmake --build --preset windows -j $(JOBS) --target Orvane ov_gui
	cmake/screenshot.sh docs/screenshot.png

clean:
	rm -rf build
