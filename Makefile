# The two commands:
#   make run    builds Setup.exe with the default payload and starts its wizard under Wine
#   make test   builds everything and runs every test suite
# Both first install what is missing (Debian packages, the i386 architecture).

# Release engineers: one command from your files, version and licence text to
# a finished build/win32/Setup.exe:
#   make setup VERSION=5.2.0.1 LICENSE=/rel/eula.rtf FILES="Quentar.exe=/rel/Quentar.exe;/rel/AV2000SDK.dll"

.PHONY: run test deps build setup bench clean

deps:
	@scripts/install-deps.sh

build: deps
	@scripts/build.sh native win32

setup: deps
	@SETUP_VERSION="$(VERSION)" SETUP_LICENSE_FILE="$(LICENSE)" SETUP_PAYLOAD_FILES="$(FILES)" scripts/build.sh native win32
	@echo "Built build/win32/Setup.exe"

run: build
	@scripts/run-wizard.sh

test: deps
	@scripts/run-tests.sh

bench: deps
	@scripts/run-bench.sh

clean:
	rm -rf build
