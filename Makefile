# Two commands on a fresh Debian machine:
#   make run    install what is missing, build, run psex on the shipped example
#   make test   the same set-up, then the whole test suite, twice: in the
#               normal build, and in a clang build with AddressSanitizer and
#               UndefinedBehaviorSanitizer that also holds the fuzz target,
#               which replays its corpus (tests/fuzz/README.md)
#
# Only Debian's packages are used.  'apt-get update' runs only when a package
# is missing, so a machine that has everything is not touched.

PACKAGES      := cmake ninja-build g++ libboost-dev libgtest-dev
TEST_PACKAGES := clang libclang-rt-14-dev
BUILD         := build
SANITIZE      := build-sanitize
EXAMPLE       := examples/seagrass.txt
SUDO          := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: run test deps test-deps configure build sanitize-configure sanitize clean

run: build
	rm -rf $(BUILD)/run && mkdir -p $(BUILD)/run
	cd $(BUILD)/run && ../psex ../../$(EXAMPLE)
	@echo "Result files are in $(BUILD)/run:" && ls $(BUILD)/run

test: build sanitize
	ctest --test-dir $(BUILD) --output-on-failure -j2
	ctest --test-dir $(SANITIZE) --output-on-failure -j2

# install-missing: install those of the packages named in $(1) that are not
# installed yet.
define install-missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

test-deps: deps
	$(call install-missing,$(TEST_PACKAGES))

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD)

sanitize-configure: test-deps
	@[ -f $(SANITIZE)/build.ninja ] || CXX=clang++ cmake -S . -B $(SANITIZE) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPSEX_SANITIZE=ON -DPSEX_FUZZ=ON

sanitize: sanitize-configure
	cmake --build $(SANITIZE)

clean:
	rm -rf $(BUILD) $(SANITIZE)
