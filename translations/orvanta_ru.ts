<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CameraControls</name>
    <message>
        <source>Brightness</source>
        <translation>Яркость</translation>
    </message>
    <message>
        <source>Contrast</source>
        <translation>Контрастность</translation>
    </message>
    <message>
        <source>Saturation</source>
        <translation>Насыщенность</translation>
    </message>
    <message>
        <source>Hue</source>
        <translation>Оттенок</translation>
    </message>
    <message>
        <source>Gamma</source>
        <translation>Гамма</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>Усиление</translation>
    </message>
    <message>
        <source>Gain, Automatic</source>
        <translation>Автоматическое усиление</translation>
    </message>
    <message>
        <source>Sharpness</source>
        <translation>Резкость</translation>
    </message>
    <message>
        <source>Backlight Compensation</source>
        <translation>Компенсация засветки</translation>
    </message>
    <message>
        <source>White Balance, Automatic</source>
        <translation>Автоматический баланс белого</translation>
    </message>
    <message>
        <source>White Balance Temperature</source>
        <translation>Температура баланса белого</translation>
    </message>
    <message>
        <source>Exposure</source>
        <translation>Экспозиция</translation>
    </message>
    <message>
        <source>Auto Exposure</source>
        <translation>Режим экспозиции</translation>
    </message>
    <message>
        <source>Exposure Time, Absolute</source>
        <translation>Выдержка</translation>
    </message>
    <message>
        <source>Focus, Absolute</source>
        <translation>Фокус</translation>
    </message>
    <message>
        <source>Focus, Automatic Continuous</source>
        <translation>Автофокус</translation>
    </message>
    <message>
        <source>Power Line Frequency</source>
        <translation>Частота электросети</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Выключено</translation>
    </message>
    <message>
        <source>50 Hz</source>
        <translation>50 Гц</translation>
    </message>
    <message>
        <source>60 Hz</source>
        <translation>60 Гц</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Автоматически</translation>
    </message>
    <message>
        <source>Auto Mode</source>
        <translation>Автоматически</translation>
    </message>
    <message>
        <source>Manual Mode</source>
        <translation>Вручную</translation>
    </message>
    <message>
        <source>Shutter Priority Mode</source>
        <translation>Приоритет выдержки</translation>
    </message>
    <message>
        <source>Aperture Priority Mode</source>
        <translation>Приоритет диафрагмы</translation>
    </message>
</context>
<context>
    <name>CameraFormatDialog</name>
    <message>
        <source>Video format</source>
        <translation>Формат видео</translation>
    </message>
    <message>
        <source>Frame &amp;size:</source>
        <translation>&amp;Размер кадра:</translation>
    </message>
    <message>
        <source>Frame size</source>
        <translation>Размер кадра</translation>
    </message>
    <message>
        <source>Frame &amp;rate:</source>
        <translation>&amp;Частота кадров:</translation>
    </message>
    <message>
        <source>Frame rate</source>
        <translation>Частота кадров</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>%1 × %2</source>
        <translation>%1 × %2</translation>
    </message>
    <message>
        <source>The camera offers no frame sizes.</source>
        <translation>Камера не предлагает ни одного размера кадра.</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>По умолчанию</translation>
    </message>
    <message>
        <source>%1 fps</source>
        <translation>%1 кадр/с</translation>
    </message>
</context>
<context>
    <name>CameraSourceDialog</name>
    <message>
        <source>Video source</source>
        <translation>Источник видео</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>No camera found</source>
        <translation>Камера не найдена</translation>
    </message>
    <message>
        <source>&amp;Camera:</source>
        <translation>&amp;Камера:</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Камера</translation>
    </message>
    <message>
        <source>Choose a camera</source>
        <translation>Выберите камеру</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>&amp;Reset to defaults</source>
        <translation>&amp;Сбросить настройки</translation>
    </message>
    <message>
        <source>The camera could not be connected.</source>
        <translation>Не удалось подключить камеру.</translation>
    </message>
    <message>
        <source>This camera has no settings of its own.</source>
        <translation>У этой камеры нет собственных настроек.</translation>
    </message>
    <message>
        <source>%1:</source>
        <translation>%1:</translation>
    </message>
</context>
</TS>
