# The two commands of the README:
#   make run    installs what is missing, builds the program and starts it
#   make test   installs what is missing, builds everything and passes every test
# and for Windows, cross-built with MinGW-w64 (cmake/mingw-w64-x86_64.cmake):
#   make windows        builds the Windows libraries, tools and tests in $(WINDOWS_BUILD)
#   make test-windows   runs them under Wine, then compares the replay tool with the Linux one
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test clean windows test-windows

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what running needs (the program, its plug-in, documents and presets), its output kept in a
# log that is shown when the build fails.
run: configure
	@echo "Building Glimmerix..."
	@cmake --build $(BUILD) -j $(JOBS) --target glimmerix >$(BUILD)/make-run.log 2>&1 || \
	  { cat $(BUILD)/make-run.log; echo "The build failed (log: $(BUILD)/make-run.log)"; exit 1; }
	@bash scripts/run-program $(BUILD)

test: build
	@bash scripts/with-test-services ctest --test-dir $(BUILD) --output-on-failure -j 2

windows:
	@bash scripts/install-deps --windows
	@cmake -S . -B $(WINDOWS_BUILD) --toolchain cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERIX_WERROR=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows tests under Wine, with the test services (the recording's tests play into their
# PulseAudio), then the replay tools of both builds over the same input (the Linux one is built in
# $(BUILD) when missing).
# A test that fails is run once more, alone: Wine's audio and window stacks have rare stalls of
# their own (each such failure stays in the log).
test-windows: windows configure
	@bash scripts/with-test-services sh -c 'ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j 2 || \
	  ctest --test-dir $(WINDOWS_BUILD) --output-on-failure --rerun-failed'
	@cmake -S . -B $(BUILD) -DGLIMMERIX_WINDOWS_BUILD=$(abspath $(WINDOWS_BUILD)) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target glimmerix-replay glimmerix-spectra-gen
	@ctest --test-dir $(BUILD) -R replay_cross_build --output-on-failure

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
