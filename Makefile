# The two commands of the README:
#   make run    installs what is missing, builds the program and starts it
#   make test   installs what is missing, builds everything and passes every test
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test clean

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

clean:
	rm -rf $(BUILD)
