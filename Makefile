BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap build test demo clean

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

clean:
	rm -rf $(BUILD)
