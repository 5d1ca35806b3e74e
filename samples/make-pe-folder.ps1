<#
Lays out a PE folder for TarnwickMedia from the WinPE add-on of Microsoft's
deployment kit (ADK). Run it as an administrator: DISM mounts the image.
    .\make-pe-folder.ps1 -Destination C:\Build\PE
The kit's files are found where it installs them; -BootWim, -Media and
-BootFiles name others.
#>
param(
    [Parameter(Mandatory = $true)][string]$Destination,
    [string]$Adk = "${env:ProgramFiles(x86)}\Windows Kits\10\Assessment and Deployment Kit",
    # The WinPE boot image; image 1 is used.
    [string]$BootWim = "$Adk\Windows Preinstallation Environment\amd64\en-us\winpe.wim",
    # The ISO tree: bootmgr, Boot\BCD, Boot\boot.sdi, EFI\...
    [string]$Media = "$Adk\Windows Preinstallation Environment\amd64\Media",
    # etfsboot.com, oscdimg.exe and, for media that also boot on UEFI PCs, efisys.bin.
    [string]$BootFiles = "$Adk\Deployment Tools\amd64\Oscdimg"
)
$ErrorActionPreference = 'Stop'
if (Test-Path $Destination) { throw "$Destination exists; give a new folder" }

$iso = Join-Path $Destination 'ISO'
New-Item -ItemType Directory -Path $iso | Out-Null
Copy-Item -Path (Join-Path $Media '*') -Destination $iso -Recurse
if (-not (Test-Path "$iso\BOOT\BOOT.SDI")) { throw "$Media lacks Boot\boot.sdi" }
New-Item -ItemType Directory -Path "$iso\SOURCES" -Force | Out-Null
$wim = "$iso\SOURCES\BOOT.wim"
Copy-Item -Path $BootWim -Destination $wim -Force
Set-ItemProperty -Path $wim -Name IsReadOnly -Value $false
Copy-Item -Path "$BootFiles\etfsboot.com" -Destination $Destination
# The ISO tool too: the library looks for it in the PE folder first.
foreach ($optional in 'efisys.bin', 'oscdimg.exe') {
    if (Test-Path "$BootFiles\$optional") { Copy-Item -Path "$BootFiles\$optional" -Destination $Destination }
}

# The application goes into \TarnwickToolset\Brightmoor, which must exist.
$mount = Join-Path ([IO.Path]::GetTempPath()) ("TarnwickMount-" + [Guid]::NewGuid())
New-Item -ItemType Directory -Path $mount | Out-Null
try {
    Mount-WindowsImage -ImagePath $wim -Index 1 -Path $mount | Out-Null
    $saved = $false
    try {
        New-Item -ItemType Directory -Path "$mount\TarnwickToolset\Brightmoor" -Force | Out-Null
        Dismount-WindowsImage -Path $mount -Save | Out-Null
        $saved = $true
    } finally {
        if (-not $saved) { Dismount-WindowsImage -Path $mount -Discard | Out-Null }
    }
} finally {
    Remove-Item -Path $mount -Recurse -Force
}
"${Destination}: PE folder ready"
