# Front door. `make demo` flies the demo flight; `make test` runs the whole suite
# (normal build, the Windows build under Wine, sanitizer build, short fuzz
# runs); `make demo-windows` flies the demo with the Windows plug-in under Wine;
# `make package` writes the release zip with both plug-ins to dist/. They
# install the Debian packages they need first when run as root on a fresh
# Debian machine.

BUILD_DIR      ?= build
SAN_BUILD_DIR  ?= build-san
FUZZ_BUILD_DIR ?= build-fuzz
WIN_BUILD_DIR  ?= build-win
JOBS           ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS   ?= 20
CMAKE_ARGS     ?=

DEB_PACKAGES = cmake make g++ clang libclang-rt-14-dev binutils pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libcurl4-openssl-dev libssl-dev openssl ca-certificates \
  libcpp-httplib-dev nlohmann-json3-dev \
  iproute2 util-linux xvfb xclip locales
# The Windows build and Wine, without the hundred-odd packages they recommend.
WIN_DEB_PACKAGES = g++-mingw-w64-x86-64-posix wine64 googletest

.PHONY: all deps configure build test test-normal test-windows demo-windows test-sanitize test-fuzz demo demo-xp11 package bench clean

all: build

deps:
	@if ! command -v dpkg-query >/dev/null 2>&1; then \
	  echo "Not a Debian system: the tools come from you (CMake, a C++17 compiler)"; exit 0; \
	fi; \
	missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	missing_win=""; for p in $(WIN_DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing_win="$$missing_win $$p"; \
	done; \
	if [ -n "$$missing$$missing_win" ]; then \
	  echo "Installing Debian packages:$$missing$$missing_win"; \
	  if [ "$$(id -u)" != 0 ]; then echo "run as root, or install them yourself:$$missing$$missing_win" >&2; exit 1; fi; \
	  apt-get update -qq && \
	  { [ -z "$$missing" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; } && \
	  { [ -z "$$missing_win" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing_win; }; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: test-normal test-windows test-sanitize test-fuzz

test-normal: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

# The Windows build: cross-built with mingw-w64, its tests run under Wine
# against the native dev service.
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRALIX_NATIVE_DEV_SERVICE=$(abspath $(BUILD_DIR))/tools/dev-service/tralix-dev-service \
  -DTRALIX_NATIVE_PLUGIN=$(abspath $(BUILD_DIR))/Tralix/lin_x64/Tralix.xpl

test-windows: configure
	@started=$$(date +%s); built=$$started; \
	cmake --build $(BUILD_DIR) -j$(JOBS) --target tralix-dev-service Tralix && $(WIN_CONFIGURE) && \
	cmake --build $(WIN_BUILD_DIR) -j$(JOBS) && built=$$(date +%s) && \
	(cd $(WIN_BUILD_DIR) && ctest --output-on-failure -j$(JOBS)); status=$$?; \
	finished=$$(date +%s); \
	echo "Windows part: built in $$((built - started)) s, tested in $$((finished - built)) s (exit status $$status)"; \
	exit $$status

test-sanitize: deps
	cmake -S . -B $(SAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DTRALIX_SANITIZE=ON
	cmake --build $(SAN_BUILD_DIR) -j$(JOBS)
	cd $(SAN_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS)

test-fuzz: deps
	@if [ -f fuzz/CMakeLists.txt ]; then \
	  CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRALIX_FUZZ=ON && \
	  cmake --build $(FUZZ_BUILD_DIR) -j$(JOBS) --target fuzz_all && \
	  FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-all $(FUZZ_BUILD_DIR); \
	else echo "no fuzz targets yet"; fi

# Only what the demo flies: tralix-sim, which brings the plug-in, the headless
# host and the service stand-in; the tests and benchmarks wait for `make test`.
demo: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target tralix-sim
	tools/tralix-sim/demo.sh $(BUILD_DIR)

# The same flight with the datarefs X-Plane 11 publishes.
demo-xp11: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target tralix-sim
	tools/tralix-sim/demo.sh $(BUILD_DIR) 11

# dist/Tralix-<version>.zip: builds the native and the Windows plug-in alone,
# then packs both (with XPLANE_SDK_DIR=<SDK>, the Windows one links against
# the SDK's own import libraries). Where no mingw-w64 is installed (macOS),
# dist/Tralix-<version>-<platform>.zip with the native plug-in alone.
package: configure
	@if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then \
	  cmake --build $(BUILD_DIR) -j$(JOBS) --target Tralix && \
	  $(WIN_CONFIGURE) $(if $(XPLANE_SDK_DIR),-DXPLANE_SDK_DIR=$(abspath $(XPLANE_SDK_DIR))) && \
	  cmake --build $(WIN_BUILD_DIR) -j$(JOBS) --target Tralix && \
	  cmake -S . -B $(BUILD_DIR) -DTRALIX_PACKAGE_MORE_PLUGINS=$(abspath $(WIN_BUILD_DIR))/Tralix/win_x64/Tralix.xpl; \
	else \
	  cmake -S . -B $(BUILD_DIR) -DTRALIX_PACKAGE_MORE_PLUGINS=; \
	fi && cmake --build $(BUILD_DIR) -j$(JOBS) --target release_zip

# The demo flight with the Windows plug-in in the Windows host under Wine,
# against the native dev service inside the sandbox.
demo-windows: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target tralix-dev-service
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD_DIR) -j$(JOBS) --target windows_flight
	tools/sandbox/tralix-sandbox -- tools/wine/fly-windows $(abspath $(BUILD_DIR))/tools/dev-service/tralix-dev-service \
	  $(abspath $(WIN_BUILD_DIR))/bin/windows_flight.exe $(abspath $(WIN_BUILD_DIR))/Tralix/win_x64/Tralix.xpl \
	  flights/demo.flight 40

bench: build
	@for b in $(BUILD_DIR)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD_DIR) $(SAN_BUILD_DIR) $(FUZZ_BUILD_DIR) $(WIN_BUILD_DIR)
