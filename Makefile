# The two commands:
#   make run    builds Setup.exe with the default payload (the archive tool, the
#               sample payload and Setup.exe only) and starts its wizard under Wine
#   make test   builds everything and runs every test suite
# Both first install what is missing (Debian packages, the i386 architecture).
#
# Release engineers: one command from your files, version and licence text to
# the Setup.exe to ship, build/release/Setup.exe (make run and make test never
# touch that folder; see README and scripts/make-setup.sh):
#   make setup LICENSE=/rel/eula.rtf FILES="Quentar.exe=/rel/Quentar.exe;/rel/AV2000SDK.dll"
# The version is the carried Quentar.exe's file version (VERSION=, when given,
# must be the same).
# SOURCE_DATE_EPOCH=<seconds> makes the result reproducible byte for byte;
# KEY=<32 hex digits> gives the archive's key; SIGN_CERT=<pem or pfx>
# SIGN_KEY=<key> signs Setup.exe with Authenticode (SHA-256). The variables reach the script
# through the environment, so any characters survive.
# Preview any built Setup.exe with:  make run SETUP=build/release/Setup.exe

.PHONY: run test deps build setup bench clean

deps:
	@scripts/install-deps.sh

build: deps
	@scripts/build.sh native win32

setup: deps
	@scripts/make-setup.sh

run: deps
	@if [ -z "$$SETUP" ]; then scripts/build.sh wizard; fi
	@scripts/run-wizard.sh

test: deps
	@scripts/run-tests.sh

bench: deps
	@scripts/run-bench.sh

clean:
	rm -rf build
