# Entry points. Each does its own set-up first (installing missing packages
# needs root). Builds go to build/native and build/win32 (CMake presets).

SHELL := /bin/bash
.DEFAULT_GOAL := help

WIN32_BUILD := build/win32
SAMPLE_SKIN := samples/Winter.ovs

SKINPACK := build/native/skinpack/skinpack

.PHONY: help setup native native-asan win32 demo test skinpack installer bench bench-skinpack bench-install screenshots clean

help:
	@echo "make demo       build the installer for the sample skin and run it against a stand-in host under Wine"
	@echo "make test       run every test: native unit tests, then the installer's tests under Wine"
	@echo "make skinpack   build skinpack, the skin author's tool (prints its path last)"
	@echo "make installer SKIN=<file> OUT=<dir>   write the installer for a skin file (prints its path last)"
	@echo "make bench      the benchmarks: prints their tables in markdown"
	@echo "make screenshots   take the pictures of the message boxes in docs/ again (Xvfb, Wine's X11 driver)"

setup:
	@scripts/setup.sh

# skinpack, built natively, carries the installer stub that the win32 build makes.
native: setup win32
	cmake --preset native
	cmake --build --preset native -j2

native-asan: setup win32
	cmake --preset native-asan
	cmake --build --preset native-asan -j2

win32: setup
	cmake --preset win32
	cmake --build --preset win32 -j2

demo: win32
	scripts/demo.sh "$(WIN32_BUILD)" "$(SAMPLE_SKIN)"

test: native native-asan win32
	ctest --preset native
	ctest --preset native-asan
	ctest --preset win32

# Pictures of the installer's message boxes under Wine on a virtual X screen,
# into docs/.
screenshots: win32
	@scripts/setup.sh screenshots
	scripts/screenshots.sh "$(WIN32_BUILD)" "$(SAMPLE_SKIN)" docs

skinpack: native
	@echo "$(abspath $(SKINPACK))"

installer: native
	@test -n "$(SKIN)" -a -n "$(OUT)" || { echo "usage: make installer SKIN=<skin file> OUT=<folder>" >&2; exit 2; }
	@mkdir -p "$(OUT)"
	@"$(SKINPACK)" -o "$(OUT)" "$(SKIN)"
	@echo "$(abspath $(OUT))/setup [$(notdir $(SKIN))].exe"

# How long making an installer takes: skinpack against cp and the compiler route.
bench-skinpack: native
	python3 bench/skinpack_bench.py "$(SKINPACK)" "$(WIN32_BUILD)" build/bench

# The installer's size, install time and memory against NSIS and a plain copy,
# under Wine: markdown tables on stdout (RUNS=n timed rounds, default 9).
bench-install: native
	@scripts/setup.sh bench
	bench/bench-install.sh $(RUNS)

bench: bench-skinpack bench-install

clean:
	rm -rf build
