BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap build test demo fuzz bench clean
FUZZ_SECONDS ?= 60

all: build

bootstrap:
	@scripts/bootstrap.sh $(BUILD)

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

test: build
	@scripts/with-wine-env.sh $(BUILD) ctest --test-dir $(BUILD) --output-on-failure

demo: build
	@scripts/with-wine-env.sh $(BUILD) scripts/demo.sh $(BUILD)

bench: build
	@scripts/with-wine-env.sh $(BUILD) scripts/bench.sh $(BUILD)

fuzz: bootstrap
	@BUILD=$(abspath $(BUILD)) scripts/fuzz.sh run $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
