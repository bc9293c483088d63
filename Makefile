# Every target works on a fresh Debian machine: tools/devenv provides CPython 3.14 and 3.15.
DEVENV := tools/devenv run
TESTS ?=
BENCH ?=
# The CPython versions make test-all covers.
VERSIONS ?= 3.14 3.15

.PHONY: test test-all sanitize bench leaks typecheck apidoc build shell clean wheel dist-check

test:
	$(DEVENV) tools/test $(TESTS)

test-all:
	$(DEVENV) env QUIBRA_VERSIONS="$(VERSIONS)" tools/test $(TESTS)

bench:
	$(DEVENV) python3.14 benchmarks/run.py $(BENCH)

leaks:
	$(DEVENV) tools/leaks $(or $(TESTS),tests)

typecheck:
	$(DEVENV) tools/typecheck

apidoc:
	$(DEVENV) tools/apidoc

sanitize:
	$(DEVENV) tools/sanitize $(TESTS)

build:
	$(DEVENV) true

# An sdist, and a wheel built from that sdist, into dist/.
wheel:
	$(DEVENV) python3.14 -m build --no-isolation --outdir dist .

# Both archives' contents, then the test suite against the wheel installed in a clean environment.
dist-check:
	$(DEVENV) python3.14 tools/dist_check.py

shell:
	tools/devenv shell

clean:
	rm -rf build dist quibra/*.so
